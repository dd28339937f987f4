#!/usr/bin/env bash
# Installs vesk into .venv and runs the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/pip install -q --disable-pip-version-check .
.venv/bin/python examples/example.py examples/catalog.json
