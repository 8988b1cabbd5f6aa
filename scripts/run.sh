#!/usr/bin/env bash
# Sets up the machine, builds, starts the local service emulator, points
# set.ini at it and runs the program against it.
#
# With a display and no arguments it opens the main window (Quillora). With
# arguments, or without a display, it runs the command-line front end
# (quillora-cli) on the same task road and passes the arguments on, e.g.:
#   ./scripts/run.sh --from zh --to en --text "你好，世界"
#   ./scripts/run.sh --from en --to zh ~/Documents/report.docx
# Without a display and without arguments it translates a sample text and a
# sample file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
# The same build type as the test command's plain build, so the two share one
# build folder without reconfiguring it.
QUILLORA_BUILD_TYPE=${QUILLORA_BUILD_TYPE:-Release} \
  QUILLORA_TARGETS="Quillora quillora-cli quillora-emulator Update ui-gallery" bash scripts/build.sh build

bin=$root/build/bin
state=$root/build/emulator-state
home=$root/build/run-home
mkdir -p "$state" "$home"
export QUILLORA_HOME=$home
export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$home/xdg-config}

"$bin/quillora-emulator" --state-dir "$state" --write-ini "$home/set.ini" >"$state/emulator.log" 2>&1 &
emulator=$!
trap 'kill $emulator 2>/dev/null; wait $emulator 2>/dev/null || true' EXIT

for _ in $(seq 1 100); do
  # The emulator says it is serving only after it has written set.ini.
  grep -q 'is serving' "$state/emulator.log" 2>/dev/null && break
  kill -0 $emulator 2>/dev/null || { cat "$state/emulator.log"; echo "run: the emulator did not start"; exit 1; }
  sleep 0.1
done
echo "run: emulator started (log: $state/emulator.log)"
sed -n '/^\[Service\]/,/^\[/p' "$home/set.ini"
echo

if ((! $#)) && [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  echo "run: opening the main window (Quillora) against the emulator."
  "$bin/Quillora"
  exit 0
fi
if ((! $#)); then
  echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the main window cannot open;"
  echo "run: running quillora-cli against the emulator instead."
fi

if (($#)); then
  "$bin/quillora-cli" "$@"
else
  sample=$home/sample.txt
  printf 'hello world\nthe translation service\n' >"$sample"
  "$bin/quillora-cli" --from zh --to en --text "你好，世界"
  "$bin/quillora-cli" --from en --to zh "$sample"
fi
