#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer
# on) into build-fuzz and runs each for the given time, keeping a corpus per target
# between runs. Prints executions and findings per target; exits non-zero on a finding.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="$root/build-fuzz"
targets=(ini_fuzz reply_check_fuzz entry_fuzz log_line_fuzz)
CMAKE_GEN=()
command -v ninja >/dev/null && CMAKE_GEN=(-G Ninja)

# The build's output is kept and shown only when it fails, so a target that stops
# building says why instead of ending the script silently.
build_log="$(mktemp)"
trap 'rm -f "$build_log"' EXIT
if ! { cmake -S "$root" -B "$build" "${CMAKE_GEN[@]}" -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j "${JOBS:-2}" --target "${targets[@]}"; } >"$build_log" 2>&1; then
    cat "$build_log" >&2
    echo "fuzz.sh: the fuzz targets did not build (output above)" >&2
    exit 1
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
failed=0
summary=""
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$corpus" "$findings"
    log="$build/$target.log"
    echo "fuzzing $target for ${seconds}s (log: $log)"
    status=0
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)"
    found="$(find "$findings" -type f | wc -l)"
    [ "$status" = 0 ] && [ "$found" = 0 ] || failed=1
    summary+="$(printf '%-18s executions %-12s corpus %-6s findings %s' "$target" \
        "${execs:-?}" "$(find "$corpus" -type f | wc -l)" "$found")"$'\n'
done
echo
echo -n "$summary"
exit "$failed"
