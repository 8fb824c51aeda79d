#!/usr/bin/env bash
# Builds the core library's C++ tests (tests/core) without the Python
# modules and runs them under ctest; tests of kernels chosen by
# instruction-set level run once per level this processor has.
#   scripts/ctest.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/ctest
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
[ -f "$build/CMakeCache.txt" ] && generator=()
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DVORN_PYTHON_MODULE=OFF >/dev/null
cmake --build "$build" --parallel
ctest --test-dir "$build" --output-on-failure "$@"
