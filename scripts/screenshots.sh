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
  # A run that stopped half-way leaves its program waiting: end it too.
  [[ -n ${QUILLORA_PID:-} ]] && kill "$QUILLORA_PID" 2>/dev/null || true
  kill "$emulator" 2>/dev/null || true
  wait "$emulator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 100); do
  grep -q 'is serving' "$work/emulator.log" 2>/dev/null && break
  sleep 0.1
done
# The control port hands out the codes a user would read off the phone.
control=$(sed -n 's|^ *control *\(http://[^ ]*\)/control/status.*|\1/control|p' "$work/emulator.log")
mobile=13800138000
# A document over the size limit (sparse: it takes no room).
truncate -s 60M "$work/big report.docx"
# The browser a sign-in page would open in: nobody looks at it here.
mkdir -p "$work/fakebin"
printf '#!/bin/sh\nexit 0\n' >"$work/fakebin/xdg-open"
chmod +x "$work/fakebin/xdg-open"

# One program run at one scale; the commands below use ask/wait_for.
start() {
  coproc QUILLORA {
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$1 QUILLORA_TEST_DRIVER=stdio QUILLORA_HOME=$work \
      PATH="$work/fakebin:$PATH" XDG_CONFIG_HOME=$work/xdg XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp exec "$bin/Quillora" 2>/dev/null
  }
  local ready
  read -r ready <&"${QUILLORA[0]}"
  [[ $ready == ready ]] || { echo "screenshots: the program did not start"; exit 1; }
}
ask() {
  [[ -n ${QUILLORA[1]:-} ]] || { echo "screenshots: the program has ended" >&2; exit 1; }
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
  echo "screenshots: '$*' never answered '$want' (line ${BASH_LINENO[0]})" >&2
  return 1
}
shot() {  # shot WINDOW NAME
  [[ $(ask shot "$1" "$out/$2@$scale.png") == ok ]] || echo "screenshots: $2 failed" >&2
  echo "  $2@$scale.png"
}
stop() {  # the tray menu's "退出"
  local pid=$QUILLORA_PID
  ask popup click 退出 >/dev/null
  wait "$pid" 2>/dev/null || true
  unset QUILLORA_PID
}
# control_value PATH FIELD: a text field of the control port's answer, once
# there is one.
control_value() {
  local value=""
  for _ in $(seq 1 100); do
    value=$(curl -sf "$control/$1" | sed -n "s/.*\"$2\" *: *\"\([^\"]*\)\".*/\1/p" || true)
    [[ -n $value ]] && break
    sleep 0.05
  done
  echo "$value"
}
# Signs in on the login window's mobile page; with "captcha" the service
# asks for the picture code first, and the window is shown in that state.
sign_in() {
  ask click MainWnd btn_login >/dev/null
  wait_for 1 visible LogonWnd
  shot LogonWnd login
  ask click LogonWnd btn_tel_login >/dev/null
  wait_for 1 visible LogonWnd ed_login_tel
  ask type LogonWnd ed_login_tel "$mobile" >/dev/null
  shot LogonWnd login-mobile
  curl -sf -d '{"required":true}' "$control/captcha-required" >/dev/null
  ask click LogonWnd btn_login_telcode >/dev/null
  wait_for 1 visible LogonWnd ed_login_imagecode
  local captcha
  captcha=$(control_value captcha answer)
  sleep 0.5  # the picture is fetched and drawn after the answer is known
  shot LogonWnd login-captcha
  ask type LogonWnd ed_login_imagecode "$captcha" >/dev/null
  wait_for 发送验证码 text LogonWnd btn_login_telcode
  ask click LogonWnd btn_login_telcode >/dev/null
  ask type LogonWnd ed_login_telcode "$(control_value "sms?mobile=$mobile" code)" >/dev/null
  ask click LogonWnd btn_login >/dev/null
  wait_for none visible LogonWnd
  curl -sf -d '{"required":false}' "$control/captcha-required" >/dev/null
  wait_for 1 visible MainWnd ly_user
  for _ in $(seq 1 100); do  # the avatar arrives after the profile
    compgen -G "$work/tmp/*.png" >/dev/null && break
    sleep 0.05
  done
  sleep 0.3
}
# An account that has no mobile number (signed in by a scan) is asked to
# bind one: the main window's bind button and the login window's bind page.
bind_shots() {
  curl -sf -d '{"username":"guest_7","nickname":"访客7","accounttype":5}' "$control/users" >/dev/null
  ask click MainWnd btn_login >/dev/null
  wait_for 1 visible LogonWnd
  ask click LogonWnd btn_wx_login >/dev/null
  # The page's scan confirms the window's tag (the window asks for its WeChat
  # and QQ tags when it opens): every tag known so far, until it signs in.
  local tag
  for _ in $(seq 1 50); do
    for tag in $(curl -sf "$control/logintags" | grep -o '"logintag":"[^"]*"' | cut -d'"' -f4); do
      curl -sf -d "{\"logintag\":\"$tag\",\"username\":\"guest_7\"}" "$control/scan" >/dev/null
    done
    [[ $(ask visible LogonWnd) == none ]] && break
    sleep 0.2
  done
  wait_for none visible LogonWnd
  wait_for 1 visible MainWnd btn_bind
  shot MainWnd main-bind
  ask click MainWnd btn_bind >/dev/null
  wait_for 1 visible LogonWnd ed_bind_tel
  shot LogonWnd login-bind
  ask click LogonWnd closebtn >/dev/null
  wait_for none visible LogonWnd
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
  rm -rf "$work"/tmp/*.png "$work"/xdg/*  # signed out, nothing fetched yet
  echo "screenshots at scale $scale:"
  start "$scale"
  shot MainWnd main-first-run-guide
  ask click MainWnd btn_close_guide >/dev/null
  for tab in doc voice pic short; do
    ask click MainWnd "opt_${tab}_trans" >/dev/null
    wait_for 1 selected MainWnd "opt_${tab}_trans"
    shot MainWnd "main-tab-$tab"
  done
  # The notice for a document over the limit.
  ask click MainWnd opt_doc_trans >/dev/null
  wait_for 1 selected MainWnd opt_doc_trans
  ask choose "$work/big report.docx" >/dev/null
  ask click MainWnd btnAddFile >/dev/null
  wait_for 1 visible MainWnd btnTrans
  ask click MainWnd btnTrans >/dev/null
  wait_for 1 visible FileTooBigTip
  shot FileTooBigTip notice-file-too-big
  ask click FileTooBigTip closebtn >/dev/null
  wait_for none visible FileTooBigTip
  open_settings
  for tab in set help update; do
    ask click UserCenterPage "opt_$tab" >/dev/null
    wait_for 1 selected UserCenterPage "opt_$tab"
    shot UserCenterPage "settings-$tab"
  done
  ask click UserCenterPage closebtn >/dev/null
  wait_for none visible UserCenterPage
  sign_in
  shot MainWnd main-signed-in
  ask hover MainWnd btn_user >/dev/null
  wait_for 1 visible UserInfoWnd
  shot UserInfoWnd user-popup
  ask click UserInfoWnd btn_user_center >/dev/null
  wait_for 1 visible UserCenterPage
  shot UserCenterPage settings-user
  ask click UserCenterPage closebtn >/dev/null
  wait_for none visible UserCenterPage
  ask hover MainWnd btn_user >/dev/null
  wait_for 1 visible UserInfoWnd
  ask click UserInfoWnd btn_logout >/dev/null
  wait_for 1 visible MainWnd btn_login
  bind_shots
  # The tray icon's menu (offscreen there is no tray to hide into; the
  # icon's right click opens the same menu).
  ask tray right >/dev/null
  wait_for 退出 popup
  [[ $(ask popup shot "$out/tray-menu@$scale.png") == ok ]] || echo "screenshots: tray-menu failed" >&2
  echo "  tray-menu@$scale.png"
  stop
done
echo "screenshots: written to $out"
