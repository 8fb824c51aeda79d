#!/usr/bin/env bash
# Builds vorn into a fresh-enough virtual environment and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
# The demo extra carries the FEBRL tables that the command line's quality
# test links. The Spark tests need PySpark and Java; VORN_SKIP_SPARK=1 skips them, and
# the test summary says so.
spark=",spark"
[ "${VORN_SKIP_SPARK:-}" = 1 ] && spark=""
VORN_EXTRAS="test,demo${spark}${VORN_EXTRAS:+,$VORN_EXTRAS}" bash scripts/setup.sh
"${VORN_VENV:-.venv}/bin/python" -m pytest "$@"
