#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configure and build into DIR.
# QUILLORA_TARGETS (space-separated) limits the build to those targets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
jobs=${QUILLORA_JOBS:-$(nproc)}
# Let ccache reuse objects across clones of the repository in other folders.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# Warnings are errors in our own builds; a plain configure only reports them.
cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=${QUILLORA_BUILD_TYPE:-RelWithDebInfo} -DQUILLORA_WERROR=ON "$@" >/dev/null
targets=()
for t in ${QUILLORA_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$root/$dir" -j "$jobs" "${targets[@]}"
