#!/usr/bin/env bash
# Sets up the machine, builds the project twice (Release, and with AddressSanitizer
# plus UBSan) and runs every test in both builds, and runs each fuzz harness
# for QUILLORA_FUZZ_SECONDS (default 20; 0 skips them), then builds the
# Debian package from the Release tree and checks it (scripts/package-check.sh).
# Ends with CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/cmake/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
jobs=${QUILLORA_JOBS:-$(nproc)}

status=0
echo "=== sanitizer build (AddressSanitizer + UBSan)"
bash scripts/build.sh build-asan -DQUILLORA_SANITIZE=ON
(cd build-asan && ctest -j "$jobs" --output-on-failure) || status=1

fuzz_seconds=${QUILLORA_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "=== fuzz harnesses (clang, libFuzzer), ${fuzz_seconds} s each"
  bash scripts/fuzz.sh "$fuzz_seconds" || status=1
fi

# The plain build is an optimised Release build, so that CI also proves the
# build type packagers use.
echo "=== plain build (Release)"
QUILLORA_BUILD_TYPE=Release bash scripts/build.sh build
(cd build && ctest -j "$jobs" --output-on-failure) 2>&1 | tee build/ctest-release.log || status=1

# The Debian package from the same Release tree, checked as a user meets it.
echo "=== Debian package"
package_start=$SECONDS
if deb=$(bash scripts/package.sh); then
  bash scripts/package-check.sh "$deb" || status=1
else
  status=1
fi
echo "=== Debian package: built and checked in $((SECONDS - package_start)) s"
# CTest's summary of the Release build closes the run.
sed -n '/tests passed, /,$p' build/ctest-release.log
exit $status
