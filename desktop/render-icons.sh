#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG, for the icon theme
# folders here and for the copy the skin folder carries (the window and tray
# icon when the program runs outside an installed theme). The PNGs are
# committed, so packaging and builds need no SVG converter; rerun this after
# editing the SVG (needs rsvg-convert, package librsvg2-bin).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
svg=$here/icons/hicolor/scalable/apps/quillora.svg
for n in 16 22 24 32 48 64 128 256; do
  mkdir -p "$here/icons/hicolor/${n}x${n}/apps"
  rsvg-convert -w "$n" -h "$n" "$svg" -o "$here/icons/hicolor/${n}x${n}/apps/quillora.png"
done
skin=$here/../skin/icons
cp "$here/icons/hicolor/256x256/apps/quillora.png" "$skin/quillora.png"
# The window (102) and tray (101) icons of the skin, and the logo in the
# windows' title bars, show the same picture.
for copy in "$skin/101.png" "$skin/102.png" "$here/../skin/mainWnd/logo.png"; do
  cp "$here/icons/hicolor/64x64/apps/quillora.png" "$copy"
done
