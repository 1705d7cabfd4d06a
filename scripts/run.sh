#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program from the build folder. The program
# starts the local speech service itself when a job needs it and ends it when it exits.
# Arguments are files to add to the task list.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"

# Without a display (a bare console or a container) the window has nowhere to go.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting the program on a virtual one (Xvfb :99)." >&2
    Xvfb :99 -screen 0 1280x800x24 -dpi 96 -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
    export DISPLAY=:99
    sleep 1
    # The dots per inch a desktop at 100 % announces, so Qt does not scale the window by the
    # virtual screen's millimetres.
    echo "Xft.dpi: 96" | xrdb -nocpp -merge
fi

"$build/app/tovarin" "$@"
