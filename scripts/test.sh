#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, as many side by side as there are cores.
#   scripts/test.sh [ctest arguments...]
#   scripts/test.sh --sanitize [ctest arguments...]
# --sanitize builds into build-asan/ (or $BUILD_DIR) with AddressSanitizer, leak checking and
# UndefinedBehaviorSanitizer, and any report ends the test that made it as a failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
configure=()
if [ "${1:-}" = "--sanitize" ]; then
    shift
    export BUILD_DIR="${BUILD_DIR:-$root/build-asan}"
    flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    # What the tests need, and no benchmarks; -O1 with line tables keeps reports readable and
    # builds far faster than -O2 with full debugging information.
    configure=("-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DTOV_BENCH=OFF
        -DTOV_TEST_TIME_SCALE=3)
    supp="$root/scripts/sanitizers"
    # The slow unwinder sees the frames inside Qt (built without frame pointers) that the
    # suppressions name; it costs time by the frame, and twelve frames of each allocation
    # reach the deepest frame a suppression names (Qt's platform set-up, ten down).
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=12:check_initialization_order=1"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
fi
"$root/scripts/build.sh" "${configure[@]}"
build="${BUILD_DIR:-$root/build}"
cd "$build"
if [ -z "${supp:-}" ]; then
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@"
    exit
fi
# Under sanitizers every program runs several times slower, and a time limit met late is not
# what this run looks for: a program that failed without a sanitizer's report runs once more.
# Any report fails the run at once.
reported() {
    grep -qE "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|SUMMARY: UndefinedBehaviorSanitizer" \
        Testing/Temporary/LastTest.log
}
if QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@"; then
    exit 0
fi
if reported; then
    echo "test.sh: a sanitizer reported a fault (above)" >&2
    exit 1
fi
echo "test.sh: failed without a sanitizer's report; running those programs once more" >&2
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --rerun-failed "$@"
! reported
