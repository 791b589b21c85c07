#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 root and runs it there as a user whose home
# is empty: builds the package (scripts/package.sh), makes a minbase bookworm root with
# debootstrap from the mirror apt uses here (the bootstrapped root is kept as
# build/package-test/bookworm-minbase.tar.gz, and the downloaded packages in
# build/package-test/apt-archives, so that a rerun is quick), installs the package with apt
# (which pulls its dependencies by name), checks that talvino is on PATH and that the media
# module's libraries are all installed, starts it under Xvfb,
# accepts the first-use box and saves a nickname with xdotool, and then checks that its files
# are in the XDG folders with modes 0700 (folders) and 0600 (files), that nothing was written
# beside the executable or anywhere under /usr, and that the About text is found.
# Needs root (debootstrap, chroot, mounts). Usage: scripts/test-package.sh [--keep-root]
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
keep=0
[ "${1:-}" = "--keep-root" ] && keep=1
[ "$(id -u)" -eq 0 ] || { echo "scripts/test-package.sh needs root (debootstrap, chroot)" >&2; exit 2; }

deb=$(scripts/package.sh | tail -1)
scripts/check-package.sh "$deb"

work=build/package-test
tarball=$work/bookworm-minbase.tar.gz
archives=$work/apt-archives
root=$work/root
mkdir -p "$work" "$archives/partial"
mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
mirror=${mirror:-http://deb.debian.org/debian}

cleanup() {
  for m in "$root/var/cache/apt/archives" "$root/dev/pts" "$root/dev" "$root/proc"; do
    mountpoint -q "$m" 2>/dev/null && umount -l "$m"
  done
  # Never delete through a mount that is still there (/dev, the package cache).
  if grep -q " $(realpath -m "$root")/" /proc/mounts; then
    echo "mounts left under $root; not removing it" >&2
  elif [ "$keep" -eq 0 ]; then
    rm -rf "$root"
  fi
}
trap cleanup EXIT

if [ ! -f "$tarball" ]; then
  echo "== debootstrap --variant=minbase bookworm from $mirror (once; kept in $tarball)"
  rm -rf "$work/bootstrap"
  debootstrap --variant=minbase bookworm "$work/bootstrap" "$mirror" >"$work/debootstrap.log"
  rm -rf "$work/bootstrap/var/cache/apt/archives/"*.deb
  tar -C "$work/bootstrap" -czf "$tarball.part" . && mv "$tarball.part" "$tarball"
  rm -rf "$work/bootstrap"
fi

echo "== fresh root from $tarball"
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xzf "$tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount --bind "$archives" "$root/var/cache/apt/archives"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

echo "== apt install ./$(basename "$deb") in the fresh root"
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >"$work/apt.log"
# The test's own tools, not the package's: an X server and a way to press keys.
in_root apt-get install -y -qq --no-install-recommends xvfb xauth xdotool >>"$work/apt.log"
in_root sh -c 'command -v talvino' | grep -qx /usr/bin/talvino || { echo "talvino is not on PATH" >&2; exit 1; }
echo "ok: talvino on PATH at /usr/bin/talvino"
# The modules are loaded only when music is played or a file goes encrypted: every library they
# need must have come with the package's dependencies all the same.
for name in media tls; do
  module=$(in_root sh -c "ls /usr/lib/*/talvino/talvino-$name.so")
  if in_root ldd "$module" | grep -q 'not found'; then
    in_root ldd "$module" >&2
    echo "the $name module's libraries are not all installed" >&2; exit 1
  fi
  echo "ok: $name module $module with all its libraries"
done

in_root useradd --no-create-home --home-dir /home/tester --shell /bin/sh tester
mkdir -p "$root/home/tester"
in_root chown tester:tester /home/tester
[ -z "$(ls -A "$root/home/tester")" ]
touch "$root/tmp/before-start"
sleep 1  # file times have a resolution of a second on some file systems: what follows is newer

echo "== talvino under Xvfb as tester (empty home)"
cp tests/package/first-start.sh "$root/tmp/first-start.sh"
chroot --userspec=tester:tester "$root" env -i PATH=/usr/bin:/bin HOME=/home/tester LANG=C.UTF-8 \
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" sh /tmp/first-start.sh

echo "== files"
failed=0
check_mode() {
  local path="$root/home/tester/$1" want=$2 got
  got=$(stat -c %a "$path" 2>/dev/null || echo missing)
  if [ "$got" = "$want" ]; then echo "ok: ~/$1 $got"; else echo "WRONG: ~/$1 is $got, want $want" >&2; failed=1; fi
}
check_mode .config 700
check_mode .config/talvino 700
check_mode .config/talvino/myinfo.ini 600
check_mode .local/share/talvino 700
check_mode .local/share/talvino/chatdat 700
grep -q '^Name=tester' "$root/home/tester/.config/talvino/myinfo.ini" || { echo "WRONG: nickname not stored" >&2; failed=1; }
written=$(find "$root/usr" -newer "$root/tmp/before-start" | sed "s|^$root||")
if [ -n "$written" ]; then echo "WRONG: written under /usr:" >&2; echo "$written" >&2; failed=1; else echo "ok: nothing written under /usr"; fi
(cd "$root/home/tester" && find . | sort)

echo "test-package: $(( $(date +%s) - start )) s"
[ "$failed" -eq 0 ] && echo "package test passed" || { echo "package test FAILED" >&2; exit 1; }
