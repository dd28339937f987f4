#!/usr/bin/env bash
# Builds every fuzz/fuzz_*.cpp into build/fuzz/<name> with libFuzzer, ASan and
# UBSan, then runs each for FUZZ_SECONDS (default 30). A target names its seed
# directory, relative to the repository root, in a "// fuzz-seeds: <dir>"
# line; without one it runs unseeded. Then builds the extension module itself
# with clang, ASan, UBSan and libFuzzer's coverage into build/pyfuzz and runs
# each fuzz/python/fuzz_*.py under atheris for FUZZ_SECONDS as well.
# Exits non-zero if a named seed directory is missing, a target fails to build
# or a run finds anything.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-30}"
cxx="${CXX_FUZZ:-clang++}"
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fno-sanitize-recover=undefined -I"$root/src" -I"$root/tests/support"
       -isystem "$root/third_party/fast_float/include")

mkdir -p "$out/obj" "$out/artifacts"

# The core, and the test support that targets hold it against, is compiled
# once into objects that every target links; an object
# is rebuilt only when its source or a header it includes is newer.
is_stale() {
    local object="$1" depfile="$1.d" dep
    [[ -f "$object" && -f "$depfile" ]] || return 0
    for dep in $(sed -e 's/^[^:]*://' -e 's/\\$//' "$depfile"); do
        [[ "$dep" -nt "$object" ]] && return 0
    done
    return 1
}

objects=()
stale=()
while IFS= read -r source; do
    relative="${source#"$root"/}"
    object="$out/obj/${relative//\//_}.o"
    objects+=("$object")
    if is_stale "$object"; then
        stale+=("$source" "$object")
    fi
done < <(find "$root/src" "$root/tests/support" -name '*.cpp' -not -path "$root/src/python/*" | sort)
# Two at a time, as the machine has two cores. A failed compile fails the
# run: an object it left behind would be older than its source.
if [[ ${#stale[@]} -gt 0 ]]; then
    # Each call: the compiler and its flags, then a source and its object.
    compile_one='source="${@: -2:1}" object="${@: -1}"; echo "compile ${source#$ROOT/}"
        "${@:1:$#-2}" -fsanitize=fuzzer-no-link,address,undefined -MMD -MF "$object.d" -c "$source" -o "$object" ||
        { rm -f "$object"; exit 255; }'
    printf '%s\0' "${stale[@]}" | ROOT="$root" xargs -0 -n 2 -P 2 bash -c "$compile_one" compile "$cxx" "${flags[@]}" ||
        { echo "FAILED to compile the core for fuzzing" >&2; exit 1; }
fi

status=0
for target in "$root"/fuzz/fuzz_*.cpp; do
    name="$(basename "$target" .cpp)"
    binary="$out/$name"
    echo "build $name"
    if ! "$cxx" "${flags[@]}" -fsanitize=fuzzer,address,undefined "$target" "${objects[@]}" -o "$binary"; then
        echo "FAILED to build $name" >&2
        status=1
        continue
    fi
    corpus="$out/corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    seed_line="$(sed -n 's|^// fuzz-seeds: *||p' "$target" | head -n 1)"
    # "// fuzz-container-seeds: <json dir>": seeds are the containers compiled
    # from the JSON texts there, made by make_container_seeds.
    container_line="$(sed -n 's|^// fuzz-container-seeds: *||p' "$target" | head -n 1)"
    for named in "$seed_line" "$container_line"; do
        if [[ -n "$named" && ! -d "$root/$named" ]]; then
            echo "MISSING seed directory $named named by $name" >&2
            status=1
            continue 2
        fi
    done
    if [[ -n "$seed_line" ]]; then
        seeds=("$root/$seed_line")
    fi
    if [[ -n "$container_line" ]]; then
        maker="$out/make_container_seeds"
        "$cxx" "${flags[@]}" -fsanitize=address,undefined "$root/fuzz/make_container_seeds.cpp" \
            "${objects[@]}" -o "$maker"
        "$maker" "$root/$container_line" "$out/seeds/$name" > /dev/null
        seeds=("$out/seeds/$name")
        seed_line="$container_line (compiled)"
    fi
    echo "run $name for ${seconds}s${seeds:+ seeded from $seed_line}"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/$name-" "$corpus" "${seeds[@]}" > "$out/$name.log" 2>&1; then
        echo "FINDING in $name, see $out/$name.log and $out/artifacts/" >&2
        tail -n 30 "$out/$name.log" >&2
        status=1
    else
        grep -E '^stat::number_of_executed_units|^Done' "$out/$name.log" || true
    fi
done
# The module fuzzed whole, through Python, under each CPython of
# FUZZ_PYTHONS (default "3.11 3.12"): 3.11 is the project's environment,
# 3.12 the first that lets a bytes subclass export memory of its own
# (__buffer__), which the harnesses pass. A version that is not installed
# is skipped with a note. atheris drives the harnesses; its libFuzzer,
# bundled with the ASan runtime, must be loaded before the interpreter so
# the module's coverage counters and sanitizer calls find it.
export PATH="$root/.venv/bin:$PATH"
# The runtime bundled with atheris has no handlers for the vptr and function
# checks, which need the C++ part of UBSan's runtime.
module_flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize=vptr,function"
module_flags+=" -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

# fuzz_python VERSION: the Python of that version with atheris, printed;
# the project's own environment for 3.11, else one of its own in build/.
fuzz_python() {
    local version="$1" interpreter="" venv="$root/build/fuzz-python-$1"
    if [[ "$version" == 3.11 ]]; then
        echo "$root/.venv/bin/python"
        return
    fi
    if [[ ! -x "$venv/bin/python" ]]; then
        for candidate in "$(command -v "python$version" || true)" \
                         "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$version"*/bin/"python$version"; do
            if [[ -n "$candidate" && -x "$candidate" ]] && "$candidate" -c "" 2>/dev/null; then
                interpreter="$candidate"
                break
            fi
        done
        [[ -n "$interpreter" ]] || return 1
        "$interpreter" -m venv "$venv" >&2 &&
            "$venv/bin/pip" install -q --disable-pip-version-check atheris >&2 || return 1
    fi
    echo "$venv/bin/python"
}

for version in ${FUZZ_PYTHONS:-3.11 3.12}; do
    if ! python="$(fuzz_python "$version")"; then
        echo "Python $version is not installed: its fuzz runs are skipped"
        continue
    fi
    if ! atheris_dir="$("$python" -c 'import atheris; print(atheris.path())')"; then
        echo "FAILED: atheris is not installed for $python (bash scripts/setup.sh installs it)" >&2
        exit 1
    fi
    module_build="$root/build/pyfuzz"
    [[ "$version" == 3.11 ]] || module_build+="-$version"
    echo "build the module for fuzzing under Python $version"
    if ! { CXX="$cxx" cmake -S "$root" -B "$module_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_CXX_FLAGS="$module_flags" \
            -DPython_EXECUTABLE="$python" >/dev/null &&
           cmake --build "$module_build" --target vesk -j2 >/dev/null; }; then
        echo "FAILED to build the module for fuzzing" >&2
        exit 1
    fi
    sanitized_python() {
        LD_PRELOAD="$atheris_dir/asan_with_fuzzer.so" ASAN_OPTIONS=detect_leaks=0 \
            PYTHONPATH="$module_build:$root/fuzz/python" "$python" "$@"
    }
    sanitized_python "$root/fuzz/python/make_seeds.py" "$root/tests/data/json-test-suite/test_parsing" \
        "$out/py-seeds"
    for harness in "$root"/fuzz/python/fuzz_*.py; do
        name="py${version/./}_$(basename "$harness" .py)"
        corpus="$out/corpus/py_$(basename "$harness" .py)"
        mkdir -p "$corpus"
        seeds="$out/py-seeds/$(basename "$harness" .py | sed 's/^fuzz_//')"
        echo "run $name for ${seconds}s"
        if ! sanitized_python "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=4096 \
            -print_final_stats=1 \
            -artifact_prefix="$out/artifacts/$name-" "$corpus" $( [[ -d "$seeds" ]] && echo "$seeds" ) \
            > "$out/$name.log" 2>&1; then
            echo "FINDING in $name, see $out/$name.log and $out/artifacts/" >&2
            tail -n 30 "$out/$name.log" >&2
            status=1
        else
            grep -E '^stat::number_of_executed_units|^Done' "$out/$name.log" || true
        fi
    done
done
exit "$status"
