#!/usr/bin/env bash
# Checks the format and lint rules: clang-format (.clang-format) on the C++
# sources, ruff (pyproject.toml) on the Python ones. Exits non-zero when a
# file does not conform.
#   scripts/lint.sh --fix   rewrites the files instead (formats, applies ruff's safe fixes)
#   VORN_VENV=dir           environment holding ruff (default: .venv; made if missing)
# Installs its tools when missing: clang-format from Debian's apt, ruff at the
# version pinned below from PyPI into the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=false
case "${1:-}" in
    --fix) fix=true ;;
    "") ;;
    *) echo "usage: $0 [--fix]" >&2; exit 2 ;;
esac

if ! command -v clang-format >/dev/null 2>&1; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format >/dev/null
    else
        echo "error: clang-format is missing (Debian: apt-get install clang-format)" >&2
        exit 1
    fi
fi
# Pinned: ruff's rules and its formatting change between releases.
ruff_version=0.17.6
venv="${VORN_VENV:-.venv}"
if ! "$venv/bin/ruff" --version 2>/dev/null | grep -qx "ruff $ruff_version"; then
    [ -x "$venv/bin/python" ] || python3 -m venv "$venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "ruff==$ruff_version"
fi
ruff="$venv/bin/ruff"

mapfile -t cpp_files < <(git ls-files -- '*.cpp' '*.hpp' '*.h')
status=0
if $fix; then
    clang-format -i --style=file "${cpp_files[@]}"
    "$ruff" check --fix --quiet . || status=1
    "$ruff" format --quiet .
else
    echo "clang-format $(clang-format --version | grep -o '[0-9][0-9.]*' | head -n 1): ${#cpp_files[@]} files"
    clang-format --dry-run --Werror --style=file "${cpp_files[@]}" || status=1
    echo "$("$ruff" --version)"
    "$ruff" check . || status=1
    "$ruff" format --check . || status=1
fi
exit "$status"
