#!/usr/bin/env bash
# Builds vorn with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# the test suite under it. Any sanitizer report fails the run.
# Extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
VORN_EXTRAS="test" bash scripts/setup.sh
python="$PWD/${VORN_VENV:-.venv}/bin/python"
build=build/sanitize
cmake -S . -B "$build" -DVORN_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$build" --parallel
# vornkit: its Python files beside its instrumented extension.
mkdir -p "$build/vornkit"
cp src/vornkit/*.py src/vornkit/*.pyi src/vornkit/py.typed "$build"/_native.*.so "$build/vornkit/"

# The interpreter itself is not instrumented, so the runtimes are preloaded.
# Python's own allocator is bypassed so that ASan sees every allocation;
# leak checking is off because the interpreter keeps memory until exit
# (reference and memory growth are tested by the suite itself).
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:abort_on_error=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export PYTHONMALLOC=malloc
export VORN_SANITIZED=1
PYTHONPATH="$build" "$python" -m pytest -q -p no:cacheprovider "$@"
