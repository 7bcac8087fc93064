#!/usr/bin/env bash
# Saves a picture of each of the five pages of the Win32 configuration tool,
# drawn by Wine in Japanese (code page 932) under a virtual X display, as PNG
# files in build-windows/screenshots/ (or the directory given). Needs the
# Windows build in build-windows/ (scripts/test-windows.sh makes it).
# Usage: scripts/screenshots-windows.sh [output directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
output=$(realpath -m "${1:-$root/build-windows/screenshots}")
wine=/usr/lib/wine/wine64
prefix=$root/build-windows/wineprefix-screens
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

scripts/setup.sh
[ -f build-windows/bin/ctrl_win_tests.exe ] || { echo "no Windows build: run scripts/test-windows.sh first" >&2; exit 1; }
[ -d build-windows/locale/ja_JP.UTF-8 ] ||
  { mkdir -p build-windows/locale && localedef -i ja_JP -f UTF-8 build-windows/locale/ja_JP.UTF-8; }
japanese=(env LOCPATH="$root/build-windows/locale" LC_ALL=ja_JP.UTF-8)

displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
xvfb=$!
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$displayfile"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$displayfile")

if [ ! -d "$prefix" ]; then
  "${japanese[@]}" "$wine" wineboot -i >/dev/null 2>&1
  # The dialogs ask for the Japanese UI fonts of Windows; the Noto CJK fonts
  # of the system draw them.
  for font in "MS UI Gothic" "MS Gothic" "MS PGothic" "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" \
    "ＭＳ ゴシック" "ＭＳ Ｐゴシック" "Meiryo" "Meiryo UI" "Yu Gothic UI"; do
    "${japanese[@]}" "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d "Noto Sans CJK JP" /f \
      >/dev/null 2>&1
  done
  /usr/lib/wine/wineserver -w
fi

mkdir -p "$output"
rm -f "$output"/*.bmp
"${japanese[@]}" KX_CTRL_SCREENSHOT_DIR="Z:${output//\//\\}" "$wine" build-windows/bin/ctrl_win_tests.exe \
  --gtest_filter='*PagesForScreenshots*'

# 24-bit BMP -> PNG, with the standard library only.
python3 - "$output" <<'PY'
import glob, os, struct, sys, zlib
for bmp in sorted(glob.glob(os.path.join(sys.argv[1], "*.bmp"))):
    data = open(bmp, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        row = data[offset + (abs(height) - 1 - y if height > 0 else y) * stride:][:width * 3]
        rows.append(b"\0" +
                    b"".join(row[x * 3:x * 3 + 3][::-1] for x in range(width)))
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    target = bmp[:-4] + ".png"
    open(target, "wb").write(png)
    os.remove(bmp)
    print(target)
PY
