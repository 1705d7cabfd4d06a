#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window as it starts, on a virtual X server.
# Usage: scripts/screenshot.sh [OUT.png] [SCALE]; SCALE (default 1) is Qt's scale factor, 2 for a
# screen at 200 %.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
out="${1:-$root/docs/screenshot.png}"
scale="${2:-1}"
width=$((1024 * scale))
height=$((728 * scale))

"$root/scripts/install-deps.sh"
[ -x "$build/app/tovarin" ] || "$root/scripts/build.sh"

# The program keeps its working folders next to itself: run a copy in a scratch folder.
work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cp "$build/app/tovarin" "$work/"

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 "$((1280 * scale))x$((800 * scale))x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

(cd "$work" && QT_SCALE_FACTOR="$scale" exec ./tovarin) >/dev/null 2>&1 &
app_pid=$!
# Wait until the window is mapped at its scaled size.
for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q " ${width}x${height}+" && break
    sleep 0.1
done
geometry="$(xwininfo -root -tree | grep -o " ${width}x${height}+[0-9]*+[0-9]*" | head -1 | tr -d ' ')"
if [ -z "$geometry" ]; then
    echo "screenshot: the window did not appear" >&2
    exit 1
fi
sleep 1
mkdir -p "$(dirname "$out")"
import -window root -crop "$geometry" +repage "$out"
echo "wrote $out ($geometry)"
