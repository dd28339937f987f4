#!/usr/bin/env bash
# The core on other machines: cross-builds the core tests and the corpus
# compiler (tests/platform/compile_corpus.cpp) for each target named (all by
# default), runs the tests where this machine can run the target's code
# (qemu-user for Linux targets, wine for Windows if installed), and compares
# the containers of the corpus documents with this machine's byte for byte.
# For Windows and macOS it also compiles and links the module against
# CPython 3.11's headers: those of Debian's source package of CPython (its
# Include/ and, for Windows, PC/pyconfig.h), an import library of the
# python311.dll functions the module calls, made with zig's dlltool, and for
# macOS the pyconfig.h of Debian's arm64 CPython (the sources have no macOS
# one: configure writes it; its sizes and alignments are those of macOS on
# arm64, both LP64), linked to look the interpreter's symbols up at load
# time as macOS modules do.
#
#     bash scripts/platforms.sh                # every target
#     bash scripts/platforms.sh s390x i686     # some of them
#
# Targets: aarch64, s390x (big-endian), i686 (Debian's GCC cross compilers
# and qemu-user), windows (x86_64-windows-gnu) and macos (aarch64-macos),
# both with zig's C++ toolchain; and windows-compile and macos-compile, the
# core's sources compiled for those two without linking or optimising (a
# minute; not part of the default). `bash scripts/setup.sh --platforms` installs
# what this needs. Builds go to build/platforms/; exits non-zero if any
# target fails.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="$PWD/.venv/bin:$PATH"
source scripts/debian_download.sh
root="$PWD/build/platforms"
jobs="${JOBS:-2}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 s390x i686 windows macos)
mkdir -p "$root"

# The corpus, decompressed once.
corpus="$root/corpus"
mkdir -p "$corpus"
python3 - "$corpus" tests/data/corpus/*.json.xz <<'EOF'
import lzma, pathlib, sys
out = pathlib.Path(sys.argv[1])
for archive in map(pathlib.Path, sys.argv[2:]):
    target = out / archive.name.removesuffix(".xz")
    if not target.exists() or target.stat().st_mtime < archive.stat().st_mtime:
        part = target.with_suffix(".part")
        part.write_bytes(lzma.decompress(archive.read_bytes()))
        part.replace(target)
EOF
documents=("$corpus"/*.json)

# configure BUILD_DIR [CMAKE ARGUMENTS...]: the core, its tests and the
# corpus compiler, without the module.
configure() {
  local dir="$1"
  shift
  [ -f "$dir/build.ninja" ] && return 0
  cmake -S . -B "$dir" -G Ninja -DVESK_BUILD_TESTS=ON -DVESK_BUILD_MODULE=OFF \
    -DPython_EXECUTABLE="$(command -v python3)" "$@" >"$dir.configure.log" 2>&1 ||
    { tail -n 40 "$dir.configure.log"; return 1; }
}

# build BUILD_DIR TARGET...
build() {
  local dir="$1"
  shift
  cmake --build "$dir" -j"$jobs" --target "$@" >"$dir.build.log" 2>&1 ||
    { tail -n 40 "$dir.build.log"; return 1; }
}

# run_tests TARGET COMMAND...: the core tests, with their count.
run_tests() {
  local target="$1" log="$root/$1.tests.log"
  shift
  if "$@" --gtest_brief=1 >"$log" 2>&1; then
    echo "   $target: core tests passed: $(grep -E '^\[==========\]' "$log" | tail -n 1 | cut -d' ' -f2-)"
  else
    tail -n 40 "$log"
    echo "   $target: core tests FAILED"
    return 1
  fi
}

# compare TARGET OUT_DIR: the target's containers against this machine's.
compare() {
  local target="$1" out="$2"
  if diff -r "$root/host-out" "$out" >/dev/null; then
    echo "   $target: the $(ls "$out" | wc -l) corpus results are identical to x86-64's"
  else
    echo "   $target: corpus results DIFFER from x86-64's:"
    diff -rq "$root/host-out" "$out" | sed 's/^/     /' || true
    return 1
  fi
}

# A Linux target: Debian's cross compiler, GoogleTest built from source with
# it, everything run under qemu-user with the target's C library.
linux_target() {
  local target="$1" triple="$2" qemu="$3"
  local dir="$root/$target"
  configure "$dir" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$target" \
    -DCMAKE_CXX_COMPILER="$triple-g++" -DVESK_GTEST_SOURCE_DIR=/usr/src/googletest || return 1
  build "$dir" vesk_core_tests vesk_compile_corpus || return 1
  local run=("$qemu" -L "/usr/$triple")
  run_tests "$target" "${run[@]}" "$dir/vesk_core_tests" || return 1
  rm -rf "$dir/out" && mkdir -p "$dir/out"
  "${run[@]}" "$dir/vesk_compile_corpus" "$dir/out" "${documents[@]}" || return 1
  compare "$target" "$dir/out"
}

# zig's C++ toolchain (PyPI ziglang) as commands CMake can call.
zig_wrappers() {
  local zig_target="$1" dir="$2" zig
  zig="$(python3 -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')"
  mkdir -p "$dir/zig"
  printf '#!/bin/sh\nexec "%s" c++ -target %s "$@"\n' "$zig" "$zig_target" >"$dir/zig/c++"
  printf '#!/bin/sh\nexec "%s" cc -target %s "$@"\n' "$zig" "$zig_target" >"$dir/zig/cc"
  printf '#!/bin/sh\nexec "%s" ar "$@"\n' "$zig" >"$dir/zig/ar"
  printf '#!/bin/sh\nexec "%s" ranlib "$@"\n' "$zig" >"$dir/zig/ranlib"
  printf '#!/bin/sh\nexec "%s" dlltool "$@"\n' "$zig" >"$dir/zig/dlltool"
  chmod +x "$dir/zig/c++" "$dir/zig/cc" "$dir/zig/ar" "$dir/zig/ranlib" "$dir/zig/dlltool"
}

# A target of zig's toolchain: the core tests and the corpus compiler
# compiled and linked, and run where this machine can run them (Windows
# under wine, if installed).
zig_target() {
  local target="$1" zig_target="$2" system="$3" processor="$4"
  local dir="$root/$target"
  zig_wrappers "$zig_target" "$root/$target-tools"
  configure "$dir" -DCMAKE_SYSTEM_NAME="$system" -DCMAKE_SYSTEM_PROCESSOR="$processor" \
    -DCMAKE_CXX_COMPILER="$root/$target-tools/zig/c++" -DCMAKE_C_COMPILER="$root/$target-tools/zig/cc" \
    -DCMAKE_AR="$root/$target-tools/zig/ar" \
    -DCMAKE_RANLIB="$root/$target-tools/zig/ranlib" -DVESK_GTEST_SOURCE_DIR=/usr/src/googletest \
    -DCMAKE_INSTALL_NAME_TOOL="$(command -v true)" || return 1
  build "$dir" vesk_core_tests vesk_compile_corpus || return 1
  echo "   $target: core tests and corpus compiler compiled and linked"
  if [ "$target" = windows ] && command -v wine >/dev/null 2>&1; then
    run_tests "$target" env WINEDEBUG=-all wine "$dir/vesk_core_tests.exe" || return 1
    rm -rf "$dir/out" && mkdir -p "$dir/out"
    WINEDEBUG=-all wine "$dir/vesk_compile_corpus.exe" "$dir/out" "${documents[@]}" || return 1
    compare "$target" "$dir/out"
  else
    echo "   $target: not run (this machine cannot run its code)"
  fi
}

# A zig target's check that takes a minute, not many: every source of the
# core compiled for it, without optimising and without linking, which finds
# what its C++ library or system headers lack. CI runs these; the windows
# and macos targets build, link and test everything.
compile_target() {
  local target="$1" zig_target="$2" dir="$root/$1"
  zig_wrappers "$zig_target" "$root/$target-tools"
  mkdir -p "$dir"
  local sources
  sources="$(find src -name '*.cpp' -not -path 'src/python/*' | sort)"
  # Each object named for its source's path, from its own zig process.
  if printf '%s\n' "$sources" |
       xargs -P "$jobs" -I{} sh -c 'source="$1"; shift; "$@" -o "'"$dir"'/$(echo "$source" | tr / _).o" "$source"' \
         compile {} "$root/$target-tools/zig/c++" -std=c++20 -O0 -c -Wall -Wextra -Isrc \
         -isystem third_party/fast_float/include >"$dir.log" 2>&1; then
    echo "   $target: the core's $(printf '%s\n' "$sources" | wc -l) sources compile for $zig_target"
  else
    grep -E "error" "$dir.log" | head -n 20
    echo "   $target: the core does NOT compile for $zig_target"
    return 1
  fi
}

# CPython 3.11's headers for module builds of other platforms; prints their
# directory: Include/, PC/pyconfig.h (Windows), macos/pyconfig.h.
cpython_headers() {
  local dir="$root/cpython-3.11"
  if [ ! -f "$dir/Include/Python.h" ]; then
    mkdir -p "$dir/source" "$dir/arm64" "$dir/macos"
    debian_download "$dir/source" bookworm source python3.11
    tar -xzf "$dir"/source/python3.11_*.orig.tar.gz -C "$dir" --strip-components=1 \
      --wildcards '*/Include/*' '*/PC/pyconfig.h'
    debian_download "$dir/arm64" bookworm arm64 libpython3.11-dev
    dpkg-deb -x "$dir"/arm64/libpython3.11-dev_*.deb "$dir/arm64/root"
    cp "$dir/arm64/root/usr/include/aarch64-linux-gnu/python3.11/pyconfig.h" "$dir/macos/pyconfig.h"
  fi
  echo "$dir"
}

# configure_module TARGET SYSTEM PROCESSOR CONFIG_DIR [CMAKE ARGUMENTS...]: the
# module configured for a zig target in build/platforms/TARGET-module.
configure_module() {
  local target="$1" system="$2" processor="$3" config="$4"
  shift 4
  local dir="$root/$target-module" tools="$root/$target-tools/zig" headers
  headers="$(cpython_headers)"
  [ -f "$dir/build.ninja" ] && return 0
  # FindPython reads the version from pyconfig.h beside Python.h, so each
  # target gets an include folder of its own: the headers and its pyconfig.h.
  local include="$root/$target-python-include"
  rm -rf "$include" && mkdir -p "$include"
  cp -R "$headers/Include/." "$include/" && cp "$config/pyconfig.h" "$include/pyconfig.h"
  cmake -S . -B "$dir" -G Ninja -DVESK_BUILD_MODULE=ON -DVESK_BUILD_TESTS=OFF \
    -DCMAKE_SYSTEM_NAME="$system" -DCMAKE_SYSTEM_PROCESSOR="$processor" -DCMAKE_CXX_COMPILER="$tools/c++" \
    -DCMAKE_AR="$tools/ar" -DCMAKE_RANLIB="$tools/ranlib" -DPython_EXECUTABLE="$(command -v python3)" \
    -DCMAKE_INSTALL_NAME_TOOL="$(command -v true)" \
    -DPython_INCLUDE_DIR="$include" "$@" >"$dir.configure.log" 2>&1 ||
    { tail -n 40 "$dir.configure.log"; return 1; }
}

# The module for Windows: compiled, then linked against an import library
# of exactly the python311.dll symbols its objects call.
windows_module() {
  local dir="$root/windows-module" headers
  headers="$(cpython_headers)"
  mkdir -p "$dir"
  local library="$dir/libpython311.dll.a"
  [ -f "$library" ] || {
    printf 'LIBRARY python311.dll\nEXPORTS\nPy_IsInitialized\n' >"$dir/python311.def"
    "$root/windows-tools/zig/dlltool" -m i386:x86-64 -d "$dir/python311.def" -l "$library"
  }
  # The DLL's name tells FindPython that the import library stands for a
  # shared library: taken for a static one, it would bring this machine's
  # interpreter's libraries along (-ldl -lm).
  configure_module windows Windows AMD64 "$headers/PC" -DPython_LIBRARY="$library" \
    -D_Python_RUNTIME_LIBRARY_RELEASE="$dir/python311.dll" -DSKBUILD_SOABI=cp311-win_amd64 || return 1
  if ! cmake --build "$dir" -j"$jobs" --target vesk >"$dir.build.log" 2>&1; then
    # The objects are there; what they import from the interpreter is what
    # the import library must name.
    { echo "LIBRARY python311.dll"; echo "EXPORTS"
      find "$dir/CMakeFiles/vesk.dir" \( -name '*.obj' -o -name '*.o' \) -exec nm -u {} + |
        awk '{print $NF}' | sed 's/^__imp_//' | grep -E '^_?Py' | sort -u; } >"$dir/python311.def"
    "$root/windows-tools/zig/dlltool" -m i386:x86-64 -d "$dir/python311.def" -l "$library"
    cmake --build "$dir" -j"$jobs" --target vesk >"$dir.build.log" 2>&1 || { tail -n 40 "$dir.build.log"; return 1; }
  fi
  echo "   windows: module compiled and linked: $(cd "$dir" && ls vesk*.pyd), importing $(grep -c . "$dir/python311.def") names from python311.dll"
}

# The module for macOS, its interpreter symbols looked up at load time.
macos_module() {
  local dir="$root/macos-module" headers
  headers="$(cpython_headers)"
  configure_module macos Darwin arm64 "$headers/macos" -DSKBUILD_SOABI=cpython-311-darwin || return 1
  cmake --build "$dir" -j"$jobs" --target vesk >"$dir.build.log" 2>&1 || { tail -n 40 "$dir.build.log"; return 1; }
  echo "   macos: module compiled and linked: $(cd "$dir" && ls vesk*.so)"
}

# The reference: this machine's containers, from the build of the core
# tests that scripts/test.sh makes too.
host="$PWD/build/test"
echo "== host (x86-64)"
configure "$host"
build "$host" vesk_compile_corpus
rm -rf "$root/host-out" && mkdir -p "$root/host-out"
"$host/vesk_compile_corpus" "$root/host-out" "${documents[@]}"

status=0
for target in "${targets[@]}"; do
  echo "== $target"
  case "$target" in
    aarch64) linux_target aarch64 aarch64-linux-gnu qemu-aarch64 || status=1 ;;
    s390x) linux_target s390x s390x-linux-gnu qemu-s390x || status=1 ;;
    i686) linux_target i686 i686-linux-gnu qemu-i386 || status=1 ;;
    windows) { zig_target windows x86_64-windows-gnu Windows AMD64 && windows_module; } || status=1 ;;
    macos) { zig_target macos aarch64-macos Darwin arm64 && macos_module; } || status=1 ;;
    windows-compile) compile_target windows-compile x86_64-windows-gnu || status=1 ;;
    macos-compile) compile_target macos-compile aarch64-macos || status=1 ;;
    *) echo "unknown target $target (aarch64, s390x, i686, windows, macos, windows-compile, macos-compile)"
       status=1 ;;
  esac
done
exit $status
