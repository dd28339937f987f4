#!/usr/bin/env bash
# Builds the module with its allocation probe under ASan+UBSan into
# build/probe and runs the allocation-failure sweep of
# tests/faults/alloc_sweep.py (arguments are passed on: --size N for larger
# inputs, --stride K to test every k-th allocation only).
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="$PWD/.venv/bin:$PATH"
cmake -S . -B build/probe -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESK_ALLOCATION_PROBE=ON -DVESK_SANITIZE=ON \
  -DPython_EXECUTABLE="$PWD/.venv/bin/python" >/dev/null
cmake --build build/probe -j"$(nproc)" --target vesk >/dev/null
# The interpreter is not instrumented, so the sanitizer runtime must come
# first; its leak report would list the interpreter's own allocations, and
# the sweep checks the module's blocks itself.
LD_PRELOAD="$(gcc -print-file-name=libasan.so)" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 PYTHONPATH=build/probe \
  python tests/faults/alloc_sweep.py "$@"
