#!/usr/bin/env bash
# Checks the Debian package built by scripts/package.sh: its file list (program, media module,
# read-me, desktop entry, metainfo, every icon size, ufw profile), the desktop entry
# (desktop-file-validate), the AppStream metainfo (appstreamcli validate --no-net) and the
# package itself (lintian; errors fail, warnings are shown). Usage: scripts/check-package.sh [package.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-package-deps.sh
deb="${1:-$(ls build/talvino_*.deb | head -1)}"
[ -f "$deb" ] || { echo "no package: run scripts/package.sh" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -c "$deb" >"$work/contents"

failed=0
expect() {
  if [ -e "$work/root$1" ]; then echo "ok: $1"; else echo "MISSING: $1" >&2; failed=1; fi
}
expect /usr/bin/talvino
expect "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/talvino/talvino-media.so"
expect "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/talvino/talvino-tls.so"
expect /usr/share/talvino/readme.txt
expect /etc/ufw/applications.d/talvino
expect /usr/share/icons/hicolor/scalable/apps/talvino.svg
for size in 16 22 24 32 48 64 128 256; do
  expect "/usr/share/icons/hicolor/${size}x${size}/apps/talvino.png"
  if [ -e "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/talvino.png" ] &&
     ! file "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/talvino.png" | grep -q "PNG image data, $size x $size,"; then
    echo "WRONG SIZE: ${size}x${size}/apps/talvino.png" >&2; failed=1
  fi
done
desktop=$(ls "$work"/root/usr/share/applications/*.desktop)
metainfo=$(ls "$work"/root/usr/share/metainfo/*.metainfo.xml)
grep -qx 'Categories=Network;InstantMessaging;Chat;' "$desktop" || { echo "desktop entry: wrong Categories" >&2; failed=1; }
grep -q '^Name\[zh_CN\]=' "$desktop" || { echo "desktop entry: no Chinese name" >&2; failed=1; }
grep -q 'ports=2928/udp|2921/tcp' "$work/root/etc/ufw/applications.d/talvino" || { echo "ufw profile: wrong ports" >&2; failed=1; }
dpkg-deb -f "$deb" Depends | grep -q fonts-wqy-microhei || { echo "Depends lacks fonts-wqy-microhei" >&2; failed=1; }
# The media module is loaded at run time, not linked: its libraries must still be depended on.
dpkg-deb -f "$deb" Depends | grep -q libqt6multimedia6 || { echo "Depends lacks libqt6multimedia6 (the media module's)" >&2; failed=1; }
dpkg-deb -f "$deb" Depends | grep -q libssl3 || { echo "Depends lacks libssl3 (the TLS module's)" >&2; failed=1; }

echo "== desktop-file-validate"
desktop-file-validate "$desktop" || failed=1
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$metainfo" || failed=1
echo "== lintian"
lintian --no-tag-display-limit "$deb" | tee "$work/lintian" || true
if grep -q '^E:' "$work/lintian"; then failed=1; fi

[ "$failed" -eq 0 ] && echo "package checks passed: $deb" || { echo "package checks FAILED: $deb" >&2; exit 1; }
