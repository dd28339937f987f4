#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ core tests (plain and
# under ASan+UBSan), short fuzz runs, the allocation-failure sweep, a
# benchmark smoke run and the Python tests. Exits non-zero on the first
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export PATH="$PWD/.venv/bin:$PATH"
jobs=$(nproc)

echo "== C++ core tests"
cmake -S . -B build/test -G Ninja -DVESK_BUILD_TESTS=ON -DVESK_BUILD_MODULE=OFF >/dev/null
cmake --build build/test -j"$jobs"
ctest --test-dir build/test --output-on-failure --verbose

echo "== C++ core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/sanitize.sh

if [ -f fuzz/run.sh ]; then
  echo "== Fuzz smoke runs"
  FUZZ_SECONDS="${FUZZ_SECONDS:-20}" bash fuzz/run.sh
fi

echo "== Allocation-failure sweep of the module"
bash scripts/alloc_sweep.sh

if [ -f bench/run.sh ]; then
  echo "== Benchmark smoke run"
  bash bench/run.sh --quick --only twitter.json
fi

echo "== Python tests"
python -m pytest tests/python -q
