#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine: the
# GoogleTest and clang (libFuzzer) packages, and a virtual environment in
# .venv with the build and test tools (type checkers for the stub tests,
# atheris for the fuzzers of the module, Dask and fsspec for the command's
# cluster tests, orjson for the tests that compare runs with and without it)
# and vesk itself.
set -euo pipefail
cd "$(dirname "$0")/.."

need_apt=()
for package in libgtest-dev clang libclang-rt-14-dev; do
  dpkg -s "$package" >/dev/null 2>&1 || need_apt+=("$package")
done
if [ ${#need_apt[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi

[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/pip install -q --disable-pip-version-check cmake ninja pytest hypothesis mypy "pyright[nodejs]" atheris \
  "dask[distributed]" fsspec orjson
.venv/bin/pip install -q --disable-pip-version-check .
