#!/usr/bin/env bash
# package-check-overlay.sh DEB: runs package-check.sh as CI runs it (CI=true:
# apt-get install, start as a normal user, purge) without touching this
# machine: inside a private mount namespace, in a chroot whose root is a
# throwaway overlay over "/". Needs root. Everything the check installs, the
# user it creates included, goes to the overlay's upper folder, which is
# removed afterwards; the mounts end with the namespace.
set -euo pipefail
deb=$(realpath "${1:?usage: package-check-overlay.sh DEB}")
root=$(cd "$(dirname "$0")/.." && pwd)
[[ $(id -u) -eq 0 ]] || { echo "package-check-overlay: needs root" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/upper" "$scratch/work" "$scratch/merged"
unshare --mount --propagation private bash -euo pipefail -c '
  s=$1 deb=$2 check=$3
  mount -t overlay overlay -o "lowerdir=/,upperdir=$s/upper,workdir=$s/work" "$s/merged"
  mount --rbind /proc "$s/merged/proc"
  mount --rbind /dev "$s/merged/dev"
  mount -t tmpfs tmpfs "$s/merged/tmp"
  mkdir "$s/merged/tmp/check"
  cp "$deb" "$check" "$s/merged/tmp/check/"
  chroot "$s/merged" env CI=true PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    bash /tmp/check/package-check.sh "/tmp/check/$(basename "$deb")"
' _ "$scratch" "$deb" "$root/scripts/package-check.sh"
