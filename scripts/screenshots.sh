#!/usr/bin/env bash
# screenshots.sh [OUT]: screenshots of every window of the real program,
# offscreen, against the local emulator, at 100 % and 200 %. OUT defaults to
# docs/screenshots. The program is driven through its test driver (standard
# input and output), the way the end-to-end tests drive it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshots}")
cd "$root"
QUILLORA_BUILD_TYPE=${QUILLORA_BUILD_TYPE:-Release} \
  QUILLORA_TARGETS="Quillora quillora-emulator Update" bash scripts/build.sh build
bin=$root/build/bin
work=$(mktemp -d)
mkdir -p "$out" "$work/state" "$work/xdg" "$work/run" "$work/tmp"
chmod 700 "$work/run"

"$bin/quillora-emulator" --state-dir "$work/state" --write-ini "$work/set.ini" >"$work/emulator.log" 2>&1 &
emulator=$!
cleanup() {
  kill "$emulator" 2>/dev/null || true
  wait "$emulator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 100); do
  grep -q 'is serving' "$work/emulator.log" 2>/dev/null && break
  sleep 0.1
done

# One program run at one scale; the commands below use ask/wait_for.
start() {
  coproc QUILLORA {
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$1 QUILLORA_TEST_DRIVER=stdio QUILLORA_HOME=$work \
      XDG_CONFIG_HOME=$work/xdg XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp "$bin/Quillora" 2>/dev/null
  }
  local ready
  read -r ready <&"${QUILLORA[0]}"
  [[ $ready == ready ]] || { echo "screenshots: the program did not start"; exit 1; }
}
ask() {
  echo "$*" >&"${QUILLORA[1]}"
  local reply
  read -r reply <&"${QUILLORA[0]}" || true
  echo "$reply"
}
wait_for() {  # wait_for EXPECTED COMMAND...
  local want=$1
  shift
  for _ in $(seq 1 300); do
    [[ $(ask "$@") == "$want" ]] && return 0
    sleep 0.02
  done
  echo "screenshots: '$*' never answered '$want'" >&2
  return 1
}
shot() {  # shot WINDOW NAME
  [[ $(ask shot "$1" "$out/$2@$scale.png") == ok ]] || echo "screenshots: $2 failed" >&2
  echo "  $2@$scale.png"
}
stop() {
  local pid=$QUILLORA_PID
  ask command 4097 >/dev/null
  wait "$pid" 2>/dev/null || true
}
open_settings() {
  ask click MainWnd btn_more >/dev/null
  wait_for 1 visible DuiMenuWnd
  shot DuiMenuWnd menu-more
  ask click DuiMenuWnd menuitem_set >/dev/null
  wait_for 1 visible UserCenterPage
}

for scale in 1 2; do
  sed -i '/^\[Install\]/,$d' "$work/set.ini"
  echo "screenshots at scale $scale:"
  start "$scale"
  shot MainWnd main-first-run-guide
  ask click MainWnd btn_close_guide >/dev/null
  for tab in doc voice pic short; do
    ask click MainWnd "opt_${tab}_trans" >/dev/null
    wait_for 1 selected MainWnd "opt_${tab}_trans"
    shot MainWnd "main-tab-$tab"
  done
  open_settings
  for tab in set help update; do
    ask click UserCenterPage "opt_$tab" >/dev/null
    wait_for 1 selected UserCenterPage "opt_$tab"
    shot UserCenterPage "settings-$tab"
  done
  ask click UserCenterPage closebtn >/dev/null
  stop
done
echo "screenshots: written to $out"
