#!/usr/bin/env bash
# Builds vorn into a virtual environment and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
"${VORN_VENV:-.venv}/bin/python" examples/demo.py "$@"
