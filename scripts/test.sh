#!/usr/bin/env bash
# Builds vorn into a fresh-enough virtual environment and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
# The demo extra carries the FEBRL tables that the command line's quality test links.
VORN_EXTRAS="test,demo${VORN_EXTRAS:+,$VORN_EXTRAS}" bash scripts/setup.sh
"${VORN_VENV:-.venv}/bin/python" -m pytest "$@"
