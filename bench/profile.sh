#!/usr/bin/env bash
# Profiles vesk.dumps, vesk.loads and vesk.emit on twitter.json and canada.json with
# callgrind (instruction counts; perf's hardware counters are usually not
# available here) and prints the top hotspots, inclusive and self.
#
#   bash bench/profile.sh [DOCUMENT...]     default: twitter.json canada.json
#   FUNCTIONS="dumps" bash bench/profile.sh ...   only these functions (default: dumps loads emit)
#
# The module is built with symbols (RelWithDebInfo) in build/profile; profiles
# and full annotations stay in build/profile/callgrind.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="$root/build/profile"
out="$build/callgrind"
top="${TOP:-12}"
documents=("$@")
[ ${#documents[@]} -gt 0 ] || documents=(twitter.json canada.json)

python="$here/.venv/bin/python"
[ -x "$python" ] || python="$(command -v python3)"

if command -v perf >/dev/null &&
   ! perf stat -e instructions true 2>&1 | grep -qiE "not supported|not counted|permission|error"; then
  echo "# perf could count instructions here too; callgrind is used for exact, repeatable counts"
else
  echo "# perf cannot count instructions on this machine: using callgrind"
fi
command -v valgrind >/dev/null || { echo "valgrind is not installed (apt-get install valgrind)" >&2; exit 1; }

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESK_BUILD_MODULE=ON -DVESK_BUILD_TESTS=OFF -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$build" -j2 >/dev/null
mkdir -p "$out"

for document in "${documents[@]}"; do
  for function in ${FUNCTIONS:-dumps loads emit}; do
    profile="$out/$function-${document%.json}.out"
    # Collect only inside the module function, so the interpreter's start-up
    # and the preparation of the input stay out of the counts.
    PYTHONPATH="$build" valgrind --tool=callgrind --callgrind-out-file="$profile" \
      --toggle-collect="vesk::python::${function}_function*" \
      "$python" "$here/profile_workload.py" "$function" "$document" 2>"$profile.log"
    echo
    echo "== vesk.$function on $document, one call =="
    "$python" "$here/profile_report.py" "$profile" "$top"
  done
done
