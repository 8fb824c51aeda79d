#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan) and runs
# each one for the given number of seconds on a copy of its seed corpus.
# Prints the executions per target; exits non-zero when any target finds a
# crash, a sanitizer report or a failed invariant (the input that did it is
# kept under build/fuzz/artifacts/<target>/).
#   scripts/fuzz.sh [seconds-per-target]      default 60
#   VORN_FUZZ_TARGETS="fuzz_edit fuzz_router"  run only these targets
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in
    '' | *[!0-9]* | 0) echo "usage: scripts/fuzz.sh [seconds-per-target > 0]" >&2; exit 2 ;;
esac

# The fuzzer runtime ships separately from the compiler on Debian.
has_fuzzer_runtime() {
    local dir
    dir="$("$1" -print-runtime-dir 2>/dev/null)" || return 1
    ls "$dir"/libclang_rt.fuzzer-*.a >/dev/null 2>&1
}

find_clang() {
    local candidate
    for candidate in "${VORN_FUZZ_CXX:-}" clang++-14 clang++; do
        [ -n "$candidate" ] || continue
        if command -v "$candidate" >/dev/null 2>&1 && has_fuzzer_runtime "$candidate"; then
            command -v "$candidate"
            return
        fi
    done
    return 1
}

missing=()
find_clang >/dev/null || missing+=(clang libclang-rt-14-dev)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
pkg-config --exists icu-uc 2>/dev/null || missing+=(libicu-dev pkg-config)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "installing ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    else
        echo "error: missing ${missing[*]} (Debian: apt-get install ${missing[*]})" >&2
        exit 1
    fi
fi
cxx="$(find_clang)" || { echo "error: no clang++ with the libFuzzer runtime found" >&2; exit 1; }

build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORN_FUZZ=ON -DVORN_PYTHON_MODULE=OFF >/dev/null
cmake --build "$build"

targets="${VORN_FUZZ_TARGETS:-fuzz_edit fuzz_jaccard fuzz_fingerprint fuzz_corpus fuzz_preprocess fuzz_router fuzz_tiles}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
summary=()
for target in $targets; do
    # The committed corpus is only read: the run grows a copy.
    corpus="$work/$target"
    mkdir -p "$corpus" "$build/artifacts/$target"
    cp fuzz/corpus/"$target"/* "$corpus"/
    log="$build/artifacts/$target.log"
    start=$(date +%s%N)
    status=0
    "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -max_len=1500 -timeout=30 \
        -artifact_prefix="$build/artifacts/$target/" "$corpus" >"$log" 2>&1 || status=$?
    tenths=$((($(date +%s%N) - start) / 100000000))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    line=$(printf '%-18s %12s executions in %4d.%d s' "$target" "${runs:-?}" $((tenths / 10)) $((tenths % 10)))
    if [ "$status" -ne 0 ]; then
        line="$line  FAILED (exit $status)"
        failed+=("$target")
        echo "---- $target: last lines of $log" >&2
        tail -n 40 "$log" >&2
    fi
    summary+=("$line")
    echo "$line"
done

echo
echo "fuzzing summary (${seconds} s per target):"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "failed: ${failed[*]} (inputs in $build/artifacts/)" >&2
    exit 1
fi
