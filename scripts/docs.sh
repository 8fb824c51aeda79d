#!/usr/bin/env bash
# Builds the documentation site into site/ in strict mode: a page missing from
# the navigation, a broken link or anchor, or an unresolved API reference fails
# the build. The examples on the pages run as tests (tests/test_docs.py).
#   scripts/docs.sh              build site/
#   scripts/docs.sh serve        preview at http://127.0.0.1:8000 while editing
# An environment that already has vorn built (VORN_VENV, default .venv) only
# gets the pinned tools of the docs extra; otherwise it is set up first.
set -euo pipefail
cd "$(dirname "$0")/.."
venv="${VORN_VENV:-.venv}"
python="$venv/bin/python"
export NO_MKDOCS_2_WARNING=1  # the theme's notice about its successor is not a fault of the site
if [ -x "$python" ] && "$python" -c 'import vorn, vornkit' >/dev/null 2>&1; then
    # The pins of the docs extra, read from pyproject.toml.
    mapfile -t tools < <("$python" -c 'import tomllib
print("\n".join(tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["docs"]))')
    "$python" -m pip install -q --disable-pip-version-check "${tools[@]}"
else
    VORN_EXTRAS="docs${VORN_EXTRAS:+,$VORN_EXTRAS}" bash scripts/setup.sh
fi
if [ "${1:-}" = serve ]; then
    exec "$python" -m mkdocs serve --strict
fi
"$python" -m mkdocs build --strict --clean
