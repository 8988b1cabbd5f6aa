#!/usr/bin/env bash
# fuzz.sh [seconds]: builds the libFuzzer harnesses of fuzz/ with clang in
# build-fuzz (AddressSanitizer + UBSan) and runs each for `seconds` (default
# 60) on a working copy of its seed corpus. Prints one line of figures per
# harness and exits non-zero when any harness found a crash, a leak, a hang or
# a broken property; the input that shows it is kept in build-fuzz/artifacts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case $seconds in '' | *[!0-9]*) echo "fuzz.sh: seconds must be a whole number" >&2; exit 2 ;; esac
cd "$root"

harnesses=(ini_fuzz saved_sign_in_fuzz user_store_fuzz task_answer_fuzz account_answer_fuzz update_answer_fuzz flat_body_fuzz skin_fuzz)
out=$root/build-fuzz
QUILLORA_TARGETS="${harnesses[*]}" bash scripts/build.sh build-fuzz -DQUILLORA_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/cmake/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

# The last figure libFuzzer printed for `name` ("cov: 123", "stat::x:   5") in a log.
figure() { grep -o "$1: *[0-9]*" "$2" | tail -1 | awk '{print $2}'; }

status=0
printf '%-20s %10s %8s %6s %6s %7s %7s  %s\n' harness execs exec/s cov ft corpus rss-MB result
for h in "${harnesses[@]}"; do
  work=$out/corpus/$h
  mkdir -p "$work" "$out/artifacts" "$out/logs"
  cp -n fuzz/corpus/$h/* "$work"/ 2>/dev/null || true
  log=$out/logs/$h.log
  result=clean
  if ! "$out/bin/$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$out/artifacts/$h-" "$work" >"$log" 2>&1; then
    result="FAILED (see $log)"
    status=1
  fi
  printf '%-20s %10s %8s %6s %6s %7s %7s  %s\n' "$h" \
    "$(figure stat::number_of_executed_units "$log")" "$(figure stat::average_exec_per_sec "$log")" \
    "$(figure cov "$log")" "$(figure ft "$log")" "$(find "$work" -type f | wc -l)" \
    "$(figure stat::peak_rss_mb "$log")" "$result"
done
exit $status
