#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configure (once) and build into DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
jobs=${QUILLORA_JOBS:-$(nproc)}
cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=${QUILLORA_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$root/$dir" -j "$jobs"
