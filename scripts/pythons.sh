#!/usr/bin/env bash
# On demand, not in CI: installs vesk into a fresh virtual environment for
# each CPython it finds (3.11, 3.12 and 3.13 by default, or the versions
# given, e.g. `bash scripts/pythons.sh 3.12`) and runs the Python tests there.
# Environments live in build/pythons/. Exits non-zero if any version fails.
set -euo pipefail
cd "$(dirname "$0")/.."
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.11 3.12 3.13)
status=0
for version in "${versions[@]}"; do
  # The one on PATH if it runs (a pyenv shim may not), else a pyenv build.
  python=""
  for candidate in "$(command -v "python$version" || true)" \
                   "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$version"*/bin/"python$version"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" -c "" 2>/dev/null; then
      python="$candidate"
      break
    fi
  done
  if [ -z "$python" ]; then
    echo "== Python $version: not installed, skipped"
    continue
  fi
  echo "== Python $version ($python)"
  venv="build/pythons/$version"
  [ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
  "$venv/bin/pip" install -q --disable-pip-version-check pytest hypothesis mypy
  "$venv/bin/pip" install -q --disable-pip-version-check --config-settings=build-dir="$venv/vesk-build" .
  "$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider || status=1
done
exit $status
