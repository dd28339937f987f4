#!/usr/bin/env bash
# On demand, not in CI: builds the sdist and the wheel into dist/ with
# `python -m build`, then shows the wheel's platform tag as auditwheel sees it
# (which manylinux policy its symbol versions allow).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/pip install -q --disable-pip-version-check build auditwheel
rm -rf dist
.venv/bin/python -m build --outdir dist .
for wheel in dist/*.whl; do
  .venv/bin/auditwheel show "$wheel"
done
