#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program with the local speech service.
# The service is started only when nothing listens on its port yet, and ended with the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"

port="${SPEECH_SERVICE_PORT:-18765}"
service_pid=""
listening() {
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}
# The service listens while it loads its models; /health says 200 once they are in.
ready() {
    (
        exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
        printf 'GET /health HTTP/1.0\r\n\r\n' >&3
        read -r _ status _ <&3
        [ "$status" = 200 ]
    ) 2>/dev/null
}
stop_service() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
}
trap stop_service EXIT

if ! listening; then
    "$build/service/speech-service" --port "$port" 2>>"$build/speech-service.log" &
    service_pid=$!
    for _ in $(seq 1 300); do
        ready && break
        if ! kill -0 "$service_pid" 2>/dev/null; then
            echo "The speech service did not start; see $build/speech-service.log" >&2
            exit 1
        fi
        sleep 0.1
    done
fi

# Without a display (a bare console or a container) the window has nowhere to go.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting the program on a virtual one (Xvfb :99)." >&2
    Xvfb :99 -screen 0 1280x800x24 -dpi 96 -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'stop_service; kill $xvfb_pid 2>/dev/null || true' EXIT
    export DISPLAY=:99
    sleep 1
    # The dots per inch a desktop at 100 % announces, so Qt does not scale the window by the
    # virtual screen's millimetres.
    echo "Xft.dpi: 96" | xrdb -nocpp -merge
fi

"$build/app/tovarin"
