#!/usr/bin/env bash
# Prepares a virtual environment with vorn built from this checkout.
#   VORN_PYTHON=/path/to/python   interpreter to use (default: a 3.12+ found, 3.12 preferred)
#   VORN_PYTHON_VERSION=3.13      accept only this minor version (from PATH or pyenv)
#   VORN_VENV=dir                 environment directory (default: .venv)
#   VORN_EXTRAS=test,bench        optional dependency groups to install (spark also
#                                 installs a Java runtime from apt when none is found)
set -euo pipefail
cd "$(dirname "$0")/.."

wanted="${VORN_PYTHON_VERSION:-}"
is_supported() {
    "$1" -c 'import sys
wanted = sys.argv[1]
ok = sys.version_info >= (3, 12) and (not wanted or "%d.%d" % sys.version_info[:2] == wanted)
sys.exit(not ok)' "$wanted" >/dev/null 2>&1
}

find_python() {
    local candidate
    for candidate in "${VORN_PYTHON:-}" ${wanted:+python$wanted} python3.12 python3.13 python3; do
        [ -n "$candidate" ] || continue
        if command -v "$candidate" >/dev/null 2>&1 && is_supported "$candidate"; then
            command -v "$candidate"
            return
        fi
    done
    if command -v pyenv >/dev/null 2>&1; then
        local root version
        root="$(pyenv root)"
        for version in $(pyenv versions --bare | grep -E '^3\.1[2-9]' | sort -V); do
            if is_supported "$root/versions/$version/bin/python"; then
                echo "$root/versions/$version/bin/python"
                return
            fi
        done
    fi
    echo "error: Python ${wanted:-3.12 or newer} is required (set VORN_PYTHON)" >&2
    return 1
}

# ICU's development files are the one system dependency of the build.
if ! pkg-config --exists icu-uc 2>/dev/null; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libicu-dev pkg-config >/dev/null
    else
        echo "error: ICU development files are missing (Debian: apt-get install libicu-dev)" >&2
        exit 1
    fi
fi

# PySpark runs on a Java runtime.
case ",${VORN_EXTRAS:-}," in
    *,spark,*)
        if ! command -v java >/dev/null 2>&1; then
            if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
                apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq openjdk-17-jre-headless >/dev/null
            else
                echo "error: Spark needs a Java runtime (Debian: apt-get install openjdk-17-jre-headless)" >&2
                exit 1
            fi
        fi
        ;;
esac

venv="${VORN_VENV:-.venv}"
if [ ! -x "$venv/bin/python" ] || ! is_supported "$venv/bin/python"; then
    python="$(find_python)"
    "$python" -m venv --clear "$venv"
fi
"$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
# The build runs in this environment, not an isolated one: the build
# directory (build/<wheel tag>) is then reused from run to run, where a new
# isolated environment each time would make the build start from scratch.
# Dependencies published only as source (PySpark) are then built here too,
# with setuptools.
build_tools=("scikit-build-core>=0.10" setuptools wheel)
command -v cmake >/dev/null 2>&1 || build_tools+=("cmake>=3.18")
command -v ninja >/dev/null 2>&1 || build_tools+=(ninja)
"$venv/bin/python" -m pip install -q --disable-pip-version-check "${build_tools[@]}"
extras="${VORN_EXTRAS:-}"
"$venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation ".${extras:+[$extras]}"
