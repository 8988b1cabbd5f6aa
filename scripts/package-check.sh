#!/usr/bin/env bash
# package-check.sh DEB: checks the Debian package the way a user meets it.
#   1. its listing holds the programs, skins, settings, marker, commands,
#      launcher, icons and docs, every entry owned by root with sane modes,
#      and nothing that is not shipped (tests, emulator, gallery);
#   2. lintian finds no error (warnings are printed);
#   3. desktop-file-validate accepts the launcher;
#   4. it installs: with CI=true (a throwaway machine, as root) through
#      apt-get; elsewhere it is only unpacked with dpkg -x into a scratch root;
#   5. as a normal user the installed program starts offscreen, comes up and
#      quits through its exit command; its set.ini is in the user's XDG
#      folder, seeded with the packaged "Service" section; quillora-cli
#      --help works; and nothing under /opt/quillora changed;
#   6. with CI=true it is purged again and leaves nothing behind.
# Ends with "package-check: N passed, N failed"; exits non-zero on a failure.
set -euo pipefail
deb=$(realpath "${1:?usage: package-check.sh DEB}")
[[ -f $deb ]] || { echo "package-check: no such file: $deb" >&2; exit 2; }
in_ci=false
[[ ${CI:-} == true ]] && in_ci=true
user=quillora-check
program_dir=opt/quillora

passed=0
failed=0
started=$SECONDS
pass() { passed=$((passed + 1)); echo "  ok   $*"; }
fail() { failed=$((failed + 1)); echo "  FAIL $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
step() { echo "=== $* ($((SECONDS - started)) s)"; }
apt_get() {  # apt_get ARGS...: apt-get, its chatter kept in a log shown on failure
  if env DEBIAN_FRONTEND=noninteractive apt-get -q "$@" >"$work/apt.log" 2>&1; then return 0; fi
  sed 's/^/  | /' "$work/apt.log"
  return 1
}

work=$(mktemp -d)
chmod 755 "$work"
created_user=false
program=
cleanup() {
  if [[ -n $program ]]; then kill "$program" 2>/dev/null || true; fi
  if $created_user; then userdel "$user" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# ---- 1. the listing
step "contents of $(basename "$deb")"
dpkg-deb -c "$deb" >"$work/listing"
# "./path" or "./path -> target" per entry.
awk '{ p = $6; for (i = 7; i <= NF; i++) p = p " " $i; print p }' "$work/listing" >"$work/paths"
has() { grep -qxF "./$1" "$work/paths"; }
for entry in $program_dir/Quillora $program_dir/Update $program_dir/quillora-cli \
    $program_dir/set.ini $program_dir/quillora.layout \
    $program_dir/skin/main.xml $program_dir/skin/fonts.xml $program_dir/skin/logon.xml \
    $program_dir/skin/userCenter.xml $program_dir/skin/menu.xml \
    "usr/bin/quillora -> /$program_dir/Quillora" "usr/bin/quillora-cli -> /$program_dir/quillora-cli" \
    usr/share/applications/quillora.desktop usr/share/icons/hicolor/scalable/apps/quillora.svg \
    usr/share/doc/quillora/copyright usr/share/doc/quillora/changelog.Debian.gz \
    usr/share/man/man1/quillora.1.gz usr/share/man/man1/quillora-cli.1.gz; do
  check "lists $entry" has "$entry"
done
for n in 16 22 24 32 48 64 128 256; do
  check "lists the ${n}x$n icon" has "usr/share/icons/hicolor/${n}x$n/apps/quillora.png"
done
owned_by_root() { awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$work/listing"; }
# Folders and programs 755, data files 644 (links are links).
sane_modes() {
  awk '/^d/ && $1 != "drwxr-xr-x" { print; bad = 1 }
       /^-/ && $1 != "-rw-r--r--" && $1 != "-rwxr-xr-x" { print; bad = 1 }
       END { exit bad }' "$work/listing"
}
only_shipped() { ! grep -Ei 'test|bench|emulator|fuzz|gallery' "$work/paths"; }
check "every entry is owned by root" owned_by_root
check "modes are 755 (folders, programs) or 644 (files)" sane_modes
check "ships no test, bench, emulator, fuzzer or gallery" only_shipped

# ---- 2. lintian
step "lintian"
lintian_log=$work/lintian.log
lintian_status=0
lintian --fail-on error --display-level ">=warning" "$deb" >"$lintian_log" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$lintian_log" | sed 's/^/  | /' || true
check "lintian reports no error" test "$lintian_status" -eq 0

# ---- 3. the launcher
step "desktop-file-validate"
mkdir "$work/unpacked"
dpkg -x "$deb" "$work/unpacked"
validate_launcher() {
  desktop-file-validate "$work/unpacked/usr/share/applications/quillora.desktop" >"$work/validate.log" 2>&1
  local status=$?
  sed 's/^/  | /' "$work/validate.log"
  return $status
}
check "desktop-file-validate accepts the launcher" validate_launcher

# ---- 4. install
if $in_ci; then
  step "apt-get install (CI)"
  root=
  check "apt-get installs the package" apt_get install -y "$deb"
  command_path=/usr/bin/quillora
  cli_path=/usr/bin/quillora-cli
else
  step "dpkg -x into a scratch root (outside CI nothing is installed)"
  root=$work/unpacked
  # The commands on the PATH point at /opt; in the scratch root a link of our
  # own to the unpacked program starts it the same way, through a symlink.
  mkdir "$work/bin"
  ln -s "$root/$program_dir/Quillora" "$work/bin/quillora"
  ln -s "$root/$program_dir/quillora-cli" "$work/bin/quillora-cli"
  command_path=$work/bin/quillora
  cli_path=$work/bin/quillora-cli
fi
installed=$root/$program_dir

# ---- 5. a normal user starts it
step "starting the installed program as a normal user"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  if ! id "$user" >/dev/null 2>&1; then
    useradd --no-create-home --shell /usr/sbin/nologin --user-group "$user"
    created_user=true
  fi
  # setpriv executes in place (no fork), so the started program keeps the pid
  # the script knows.
  as_user=(setpriv --reuid="$user" --regid="$user" --init-groups)
else
  user=$(id -un)
fi
home=$work/home
mkdir -p "$home/.config" "$home/run" "$home/tmp"
chmod 700 "$home/run"
chown -R "$user:" "$home"
user_env=(env -i PATH="$(dirname "$command_path"):/usr/bin:/bin" HOME="$home" LANG=C.UTF-8
  XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run" TMPDIR="$home/tmp"
  QT_QPA_PLATFORM=offscreen)
listing() { find "$installed" -printf '%p %M %U:%G %s %T@\n' | sort; }
listing >"$work/before"

# The test driver answers "ready" once the main window is up; its "command
# 4097" is the tray menu's exit, the way a user ends the program. The program
# leads a session of its own, so the programs it starts (Update) can be
# found and waited for by that session.
coproc PROGRAM {
  exec "${as_user[@]}" "${user_env[@]}" QUILLORA_TEST_DRIVER=stdio setsid --wait quillora 2>"$work/program.log"
}
program=$PROGRAM_PID
ready=
read -r -t 120 ready <&"${PROGRAM[0]}" || true
check "the program says it is ready" test "$ready" = ready
if [[ $ready == ready ]]; then
  echo "command 4097" >&"${PROGRAM[1]}"
  reply=
  read -r -t 60 reply <&"${PROGRAM[0]}" || true
  check "it accepts the exit command" test "$reply" = ok
fi
exec {PROGRAM[1]}>&-
session=$program
status=0
wait "$program" || status=$?
program=
check "it ends with exit code 0" test "$status" -eq 0
[[ $status -eq 0 ]] || sed 's/^/  | /' "$work/program.log"

help_status=0
"${as_user[@]}" "${user_env[@]}" quillora-cli --help >"$work/help.txt" 2>&1 || help_status=$?
check "quillora-cli --help works for the user" \
  test "$help_status" -eq 0 -a -n "$(grep '^Usage:' "$work/help.txt")"

# Programs it started (Update) may still be at work; what they leave counts too.
for _ in $(seq 1 120); do
  pgrep -s "$session" >/dev/null || break
  sleep 0.5
done
for pid in $(pgrep -s "$session" || true); do
  fail "process $pid ($(cat /proc/"$pid"/comm 2>/dev/null)) started by the program still runs"
  kill "$pid" 2>/dev/null || true
done

# key=value lines with a value in the "Service" section of an INI file.
service_lines() {
  awk '/^[ \t]*\[/ { s = tolower($0); gsub(/[ \t]/, "", s); in_service = (s == "[service]"); next }
       in_service && /=/ { k = $0; sub(/=.*/, "", k); v = $0; sub(/^[^=]*=/, "", v)
         gsub(/^[ \t]+|[ \t]+$/, "", k); gsub(/^[ \t]+|[ \t]+$/, "", v)
         if (v != "") print k "=" v }' "$1" | sort
}
user_ini=$home/.config/Quillora/set.ini
check "set.ini is in the user's XDG config folder" test -f "$user_ini"
if [[ -f $user_ini ]]; then
  service_lines "$installed/set.ini" >"$work/packaged-service"
  service_lines "$user_ini" >"$work/user-service"
  check "the user's set.ini holds the packaged Service section" \
    test -s "$work/packaged-service" -a -z "$(comm -23 "$work/packaged-service" "$work/user-service")"
fi
listing >"$work/after"
if diff "$work/before" "$work/after" >"$work/opt.diff"; then
  pass "nothing under /$program_dir changed"
else
  fail "files under /$program_dir changed:"
  sed 's/^/  | /' "$work/opt.diff"
fi

# ---- 6. removal
if $in_ci; then
  step "apt-get remove --purge (CI)"
  check "apt-get purges the package" apt_get remove --purge -y quillora
  for gone in /$program_dir /usr/bin/quillora /usr/bin/quillora-cli /usr/share/applications/quillora.desktop \
      /usr/share/icons/hicolor/scalable/apps/quillora.svg /usr/share/doc/quillora \
      /usr/share/man/man1/quillora.1.gz; do
    check "$gone is gone" test ! -e "$gone" -a ! -L "$gone"
  done
fi

step "done"
echo "package-check: $passed passed, $failed failed"
((failed == 0))
