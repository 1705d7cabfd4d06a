#!/usr/bin/env bash
# Configures and builds the project into build/ (or $BUILD_DIR); arguments go to CMake's
# configuration (for example -DCMAKE_CXX_FLAGS=...).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
