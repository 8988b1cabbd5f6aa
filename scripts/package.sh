#!/usr/bin/env bash
# package.sh [OUT]: builds the shipped programs in the Release tree (build/,
# the tree the test command's plain build uses, so CI builds nothing twice;
# QUILLORA_PACKAGE_BUILD names another) and makes the Debian package with
# cpack in OUT (default build/package/deb). Prints the .deb's path last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${QUILLORA_PACKAGE_BUILD:-build}
out=$(realpath -m "${1:-$root/$dir/package/deb}")
cd "$root"
QUILLORA_BUILD_TYPE=Release \
  QUILLORA_TARGETS="Quillora Update quillora-cli quillora_package_files" bash scripts/build.sh "$dir" >/dev/null

mkdir -p "$out"
log=$out/cpack.log
# The staging folder is CPack's own; files in the package belong to root
# whoever builds it.
if ! (cd "$root/$dir" && cpack -G DEB -B "$out") >"$log" 2>&1; then
  cat "$log" >&2
  echo "package: cpack failed" >&2
  exit 1
fi
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' "$log")
[[ -n $deb && -f $deb ]] || { cat "$log" >&2; echo "package: cpack made no .deb" >&2; exit 1; }
echo "$deb"
