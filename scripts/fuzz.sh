#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ (or $FUZZ_BUILD_DIR) and runs each for
# SECONDS (default 60), from its seeds and regression inputs in fuzz/corpus/TARGET. What a run
# adds to the corpus stays in the build folder. Prints per target what it did; ends non-zero
# when any target found something (the inputs are in build-fuzz/findings/).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS of 0 runs each target once over its seeds and regression inputs and explores nothing:
# the same run every time, for CI, where a new finding of a short exploration would block
# landings by chance.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
"$root/scripts/install-deps.sh"

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOV_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 "-DCMAKE_CXX_FLAGS=$flags" >/dev/null
cmake --build "$build" --target fuzz --parallel "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in "$root"/fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
failed=0
for name in "${targets[@]}"; do
    work="$build/corpus/$name"
    findings="$build/findings/$name"
    rm -rf "$findings"
    mkdir -p "$work" "$findings"
    log="$build/fuzz-$name.log"
    status=0
    options="$ASAN_OPTIONS"
    case "$name" in
    times_file | recovery_file | service_languages)
        # Their files go through Qt's JSON parser, which leaks on some malformed documents. Qt
        # is built without frame pointers: only the slow unwinder sees the frame fuzz/lsan.supp
        # names. It costs most of the speed.
        options="$options:fast_unwind_on_malloc=0"
        ;;
    esac
    limit=(-max_total_time="$seconds")
    if [ "$seconds" = 0 ]; then
        limit=(-runs=0)
    fi
    # A unit that takes over 10 s, or over 2 GB, counts as a finding as a crash does.
    ASAN_OPTIONS="$options" "$build/fuzz/fuzz_$name" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$root/fuzz/corpus/$name" \
        >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    found="$(find "$findings" -type f | wc -l)"
    if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
        found=1 # ended badly without leaving an input: the log says why
    fi
    echo "$name: executions ${runs:-0}, corpus $(find "$work" -type f | wc -l), findings $found"
    if [ "$found" -ne 0 ]; then
        failed=1
        grep -E "ERROR|rule broken|runtime error|SUMMARY" "$log" | head -5 | sed 's/^/    /'
        echo "    log: $log"
    fi
done
exit "$failed"
