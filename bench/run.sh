#!/usr/bin/env bash
# Benchmarks vesk against msgpack, ormsgpack, msgspec, cbor2, pickle, marshal
# and orjson on the test corpus (tests/data/corpus), in a virtual environment
# of its own (bench/.venv) with vesk built from this source tree.
#
#   bash bench/run.sh                              full run, a few minutes
#   bash bench/run.sh --quick --only twitter.json  smoke run, also runs the helper tests
#   bash bench/run.sh --chart                      full run, also draws docs/benchmark.png
#   bash bench/run.sh --help                       all options
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
venv="$here/.venv"
log="$venv/install.log"

install() {
  if ! "$@" >>"$log" 2>&1; then
    echo "bench: install step failed: $*" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

[ -x "$venv/bin/python" ] || "${PYTHON:-python3}" -m venv "$venv"
: >"$log"
pip=("$venv/bin/python" -m pip install --disable-pip-version-check -q)
install "${pip[@]}" -r "$here/requirements.txt"
# The build directory lives in the venv, so a second run only recompiles what changed.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
install "${pip[@]}" --no-deps --force-reinstall --no-build-isolation \
  --config-settings=build-dir="$venv/vesk-build" "$root"

for arg in "$@"; do
  if [ "$arg" = "--quick" ]; then
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$here"
    break
  fi
done

cd "$here"
exec "$venv/bin/python" bench.py "$@"
