#!/usr/bin/env bash
# On demand, not in CI: the wheels a user installs. Builds manylinux_2_17
# wheels for x86-64 and aarch64 with zig's C++ toolchain (PyPI ziglang,
# pinned in scripts/setup.sh), which links against glibc 2.17 and brings a
# static libc++, so the wheels ask nothing newer of the system; repairs and
# checks them with auditwheel; installs each in a fresh virtual environment
# and runs the Python tests there (aarch64 under qemu-user). Also writes the
# sdist. Everything lands in dist/.
#
#     bash scripts/setup.sh --platforms     # once: zig, auditwheel, compilers
#     bash scripts/wheel.sh                 # x86_64 and aarch64, CPython 3.11-3.13
#     bash scripts/wheel.sh x86_64 3.12     # one architecture, one version
#
# x86-64 wheels build and test with the CPythons that pyenv (or PATH) has.
# aarch64 wheels are cross-built with the CPython headers of Debian's arm64
# packages and tested with that interpreter under qemu-aarch64: Debian 12
# has CPython 3.11 and Debian 13 has 3.13; no Debian release has 3.12 for
# arm64, so that one is skipped. The packages are fetched into build/wheels/
# with apt-get through a configuration of its own, without touching the
# system's. Exits non-zero if any wheel fails.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="$PWD/.venv/bin:$PATH"
work="$PWD/build/wheels"
source scripts/debian_download.sh
mkdir -p "$work" dist

architectures=()
versions=()
for argument in "$@"; do
  case "$argument" in
    x86_64 | aarch64) architectures+=("$argument") ;;
    3.*) versions+=("$argument") ;;
    *) echo "unknown argument $argument (x86_64, aarch64, 3.11, 3.12, 3.13)"; exit 2 ;;
  esac
done
[ ${#architectures[@]} -gt 0 ] || architectures=(x86_64 aarch64)
[ ${#versions[@]} -gt 0 ] || versions=(3.11 3.12 3.13)
# The oldest glibc the wheels run on: manylinux_2_17 (CentOS 7, RHEL 7+,
# Debian 8+, Ubuntu 14.04+).
glibc=2.17

# A CPython of this machine: the one on PATH if it runs, else pyenv's.
host_python() {
  local version="$1" candidate
  for candidate in "$(command -v "python$version" || true)" \
                   "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$version"*/bin/"python$version"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" -c "" 2>/dev/null; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

# zig's compiler, archiver and ranlib for one architecture, as commands
# CMake can call.
zig_tools() {
  local architecture="$1" dir="$work/zig-$1"
  mkdir -p "$dir"
  # zig's own binary, not `python -m ziglang`: pip runs builds with a
  # sys.path of their own, where this environment's packages are not.
  local zig
  zig="$(python3 -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')"
  printf '#!/bin/sh\nexec "%s" c++ -target %s-linux-gnu.%s "$@"\n' "$zig" "$architecture" "$glibc" >"$dir/c++"
  printf '#!/bin/sh\nexec "%s" ar "$@"\n' "$zig" >"$dir/ar"
  printf '#!/bin/sh\nexec "%s" ranlib "$@"\n' "$zig" >"$dir/ranlib"
  chmod +x "$dir/c++" "$dir/ar" "$dir/ranlib"
  echo "$dir"
}

# The Debian release whose arm64 packages have this CPython.
debian_suite() {
  case "$1" in
    3.11) echo bookworm ;;
    3.13) echo trixie ;;
    *) return 1 ;;
  esac
}

# An arm64 CPython from Debian's packages, unpacked into a directory of its
# own (not installed): prints that directory.
debian_arm64_python() {
  local version="$1" suite
  suite="$(debian_suite "$version")" || return 1
  local base="$work/debian-arm64-$suite"
  if [ ! -x "$base/root/usr/bin/python$version" ]; then
    # The interpreter, its standard library and headers, and the libraries
    # its modules load.
    local packages=("python$version-minimal" "libpython$version-minimal" "libpython$version-stdlib"
                    "libpython$version-dev" libc6 libgcc-s1 libexpat1 zlib1g libffi8 libbz2-1.0 liblzma5
                    libsqlite3-0 libncursesw6 libtinfo6 libuuid1 libcrypt1)
    case "$suite" in
      bookworm) packages+=(libssl3 libreadline8) ;;
      trixie) packages+=(libssl3t64 libreadline8t64 libmpdec4 libzstd1) ;;
    esac
    mkdir -p "$base/debs" "$base/root"
    debian_download "$base/debs" "$suite" arm64 "${packages[@]}"
    local deb
    for deb in "$base/debs"/*.deb; do dpkg-deb -x "$deb" "$base/root"; done
    # Newer releases keep /lib in /usr/lib, linked from / by another package.
    [ -e "$base/root/lib" ] || ln -s usr/lib "$base/root/lib"
  fi
  echo "$base/root"
}

# build_wheel ARCHITECTURE VERSION: a repaired wheel in dist/; prints its path.
build_wheel() {
  local architecture="$1" version="$2" python tools
  python="$(host_python "$version")" || { echo "no CPython $version here" >&2; return 1; }
  tools="$(zig_tools "$architecture")"
  local tag="cp${version/./}"
  local raw="$work/raw-$architecture-$tag"
  rm -rf "$raw" && mkdir -p "$raw"
  local cmake_args="-DCMAKE_AR=$tools/ar;-DCMAKE_RANLIB=$tools/ranlib"
  local environment=(CXX="$tools/c++")
  if [ "$architecture" != x86_64 ]; then
    local root
    root="$(debian_arm64_python "$version")" || { echo "no arm64 CPython $version in Debian" >&2; return 1; }
    cmake_args+=";-DCMAKE_SYSTEM_NAME=Linux;-DCMAKE_SYSTEM_PROCESSOR=$architecture"
    cmake_args+=";-DPython_INCLUDE_DIR=$root/usr/include/python$version"
    # Debian's pyconfig.h includes the one of the architecture from there.
    environment+=(CXXFLAGS="-I$root/usr/include" _PYTHON_HOST_PLATFORM="linux-$architecture"
                  SETUPTOOLS_EXT_SUFFIX=".cpython-${tag#cp}-$architecture-linux-gnu.so")
  fi
  local isolation=()
  if [ "$architecture" != x86_64 ]; then
    # pip would fetch the build's tools (CMake, ninja) for the target, which
    # this machine cannot run: they come from an environment of its own.
    local tools_env="$work/build-tools-$tag"
    [ -x "$tools_env/bin/python" ] || "$python" -m venv "$tools_env"
    "$tools_env/bin/pip" install -q --disable-pip-version-check scikit-build-core cmake ninja
    python="$tools_env/bin/python"
    isolation=(--no-build-isolation)
  fi
  env "${environment[@]}" SKBUILD_CMAKE_ARGS="$cmake_args" PATH="$(dirname "$python"):$PATH" \
    "$python" -m pip wheel -q --disable-pip-version-check --no-deps "${isolation[@]}" -w "$raw" \
    --config-settings=build-dir="$work/build-$architecture-$tag" . >"$raw.log" 2>&1 ||
    { tail -n 40 "$raw.log" >&2; return 1; }
  local policy="manylinux_${glibc/./_}_$architecture"
  if [ "$architecture" = "$(uname -m)" ]; then
    auditwheel repair --plat "$policy" -w dist "$raw"/*.whl >"$raw.repair.log" 2>&1 ||
      { cat "$raw.repair.log" >&2; return 1; }
  else
    # auditwheel repairs only wheels of this machine's architecture. It
    # checks the others, and one that needs no library of its own grafted in
    # (the module links libc++ statically) is repaired by its tag alone.
    auditwheel show "$raw"/*.whl >"$raw.repair.log" 2>&1 || { cat "$raw.repair.log" >&2; return 1; }
    if ! tr '\n' ' ' <"$raw.repair.log" | grep -q "consistent with the following platform tag: \"$policy\"" ||
       ! grep -q "requires no external shared libraries" "$raw.repair.log"; then
      cat "$raw.repair.log" >&2
      return 1
    fi
    python3 -m wheel tags --remove --platform-tag "manylinux2014_$architecture.$policy" "$raw"/*.whl >/dev/null
    mv "$raw"/*"$policy"*.whl dist/
  fi
  ls -t dist/vesk-*-"$tag"-"$tag"-*"$architecture"*.whl | head -n 1
}

# test_wheel ARCHITECTURE VERSION WHEEL: the wheel alone in a fresh virtual
# environment, and the Python tests run there.
test_wheel() {
  local architecture="$1" version="$2" wheel="$3"
  local venv="$work/venv-$architecture-$version"
  rm -rf "$venv"
  local tools=(pytest hypothesis mypy)
  if [ "$architecture" = x86_64 ]; then
    "$(host_python "$version")" -m venv "$venv"
    "$venv/bin/pip" install -q --disable-pip-version-check "${tools[@]}" "$wheel"
    "$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider
    return
  fi
  # The target's interpreter runs under qemu. The environment is laid out
  # by hand, and its python is a script that starts qemu: the tests'
  # subprocesses run sys.executable, which this machine cannot run itself.
  # The packages are installed by this machine's pip, for the target.
  local root
  root="$(debian_arm64_python "$version")"
  local site="$venv/lib/python$version/site-packages"
  mkdir -p "$venv/bin" "$site"
  printf 'home = %s\ninclude-system-site-packages = false\nversion = %s\n' "$root/usr/bin" "$version" \
    >"$venv/pyvenv.cfg"
  printf '#!/bin/sh\nexec qemu-%s -L "%s" -0 "%s" "%s" "$@"\n' "$architecture" "$root" "$venv/bin/python" \
    "$root/usr/bin/python$version" >"$venv/bin/python"
  chmod +x "$venv/bin/python"
  "$(host_python "$version" || command -v python3)" -m pip install -q --disable-pip-version-check \
    --target "$site" --platform "manylinux2014_$architecture" --only-binary=:all: \
    --python-version "$version" --implementation cp "${tools[@]}" "$wheel"
  "$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider
}

status=0
for architecture in "${architectures[@]}"; do
  for version in "${versions[@]}"; do
    echo "== $architecture, CPython $version"
    if [ "$architecture" != x86_64 ] && ! debian_suite "$version" >/dev/null; then
      echo "   skipped: no Debian release has an arm64 CPython $version to test it with"
      continue
    fi
    if ! wheel="$(build_wheel "$architecture" "$version")"; then
      echo "   FAILED to build"
      status=1
      continue
    fi
    auditwheel show "$wheel" | tr '\n' ' ' | sed 's/  */ /g' | cut -c1-300
    echo
    test_wheel "$architecture" "$version" "$wheel" 2>&1 | tail -n 3 || status=1
  done
done

echo "== sdist"
python3 -m build --sdist --outdir dist . >"$work/sdist.log" 2>&1 || { tail -n 20 "$work/sdist.log"; status=1; }
exit $status
