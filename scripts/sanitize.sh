#!/usr/bin/env bash
# The C++ core tests under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/asan -G Ninja -DVESK_BUILD_TESTS=ON -DVESK_BUILD_MODULE=OFF -DVESK_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/asan -j"$(nproc)"
ctest --test-dir build/asan --output-on-failure --verbose
