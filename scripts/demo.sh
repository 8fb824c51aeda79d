#!/usr/bin/env bash
# Builds vorn into a virtual environment with the demo's extras and runs the main job:
# deduplication of this machine's copyright files and the FEBRL record linkage benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
VORN_EXTRAS="demo${VORN_EXTRAS:+,$VORN_EXTRAS}" bash scripts/setup.sh
"${VORN_VENV:-.venv}/bin/python" examples/demo.py "$@"
