#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window as it starts, on a virtual X server.
# Usage: scripts/screenshot.sh [OUT.png] [SCALE]. SCALE (default 1; 1.5 or 2 for a desktop at 150 %
# or 200 %) sets Xft.dpi to 96 x SCALE, as a desktop does, and Qt scales the window from it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
out="${1:-$root/docs/screenshot.png}"
scale="${2:-1}"
times() { awk -v a="$1" -v b="$scale" 'BEGIN { printf "%d", a * b + 0.5 }'; }
dpi="$(times 96)"
width="$(times 1024)"
height="$(times 728)"

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
Xvfb ":$display" -screen 0 "$(times 1280)x$(times 800)x24" -dpi "$dpi" -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
echo "Xft.dpi: $dpi" | xrdb -nocpp -merge

(cd "$work" && exec ./tovarin) >/dev/null 2>&1 &
app_pid=$!
# Wait until the window is mapped at its scaled size.
for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q " ${width}x${height}+" && break
    sleep 0.1
done
# The program moves the window to the middle after showing it: read its place once it settled.
sleep 1
geometry="$(xwininfo -root -tree | grep -o " ${width}x${height}+[0-9]*+[0-9]*" | head -1 | tr -d ' ' || true)"
if [ -z "$geometry" ]; then
    echo "screenshot: no ${width} x ${height} window appeared" >&2
    exit 1
fi
mkdir -p "$(dirname "$out")"
import -window root -crop "$geometry" +repage "$out"
echo "wrote $out ($geometry)"
