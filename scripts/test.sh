#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ core tests (plain, under
# ASan+UBSan, and on s390x under qemu with the corpus compared byte for
# byte), short fuzz runs, the allocation-failure sweep, a
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

# The other targets' builds (aarch64, i686, Windows, macOS) take longer than
# a CI run has: `bash scripts/platforms.sh` runs them on demand. Windows and
# macOS get the check that takes a minute: the core compiled for each.
echo "== The core on s390x (big-endian) under qemu: core tests, and the corpus containers against x86-64's;"
echo "   the core compiled for Windows and macOS"
bash scripts/platforms.sh s390x windows-compile macos-compile

if [ -f fuzz/run.sh ]; then
  echo "== Fuzz smoke runs"
  # The module's harnesses under one CPython: 3.12, the first that lets a
  # bytes subclass export memory of its own, where installed.
  fuzz_python=3.11
  for candidate in "$(command -v python3.12 || true)" "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.12*/bin/python3.12; do
    if [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" -c "" 2>/dev/null; then
      fuzz_python=3.12
      break
    fi
  done
  FUZZ_SECONDS="${FUZZ_SECONDS:-20}" FUZZ_PYTHONS="${FUZZ_PYTHONS:-$fuzz_python}" bash fuzz/run.sh
fi

echo "== Allocation-failure sweep of the module"
bash scripts/alloc_sweep.sh

if [ -f bench/run.sh ]; then
  echo "== Benchmark smoke run"
  bash bench/run.sh --quick --only twitter.json
fi

echo "== Python tests"
python -m pytest tests/python -q
