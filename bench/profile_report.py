"""Top hotspots of one callgrind profile, inclusive and self, with short names.

Usage: profile_report.py PROFILE [TOP]
"""

from __future__ import annotations

import re
import subprocess
import sys

LINE = re.compile(r"^\s*([\d,]+)\s+\(\s*([\d.]+)%\)\s+(.*)$")


def short_name(location: str) -> str:
    """'path/file.cpp:ns::fn(args) [object]' -> 'ns::fn  (file.cpp)'"""
    location = re.sub(r" \[[^\]]*\]$", "", location)
    source, _, function = location.partition(":")
    if not function:
        source, function = "", location
    function = re.sub(r"'\d+$", "", function)  # recursion level
    function = re.sub(r" \[clone [^\]]*\]", "", function)
    function = function.removesuffix(" const")
    # Drop the trailing argument list, keeping the name (and template arguments).
    depth, cut = 0, len(function)
    for i in range(len(function) - 1, -1, -1):
        if function[i] == ")":
            depth += 1
        elif function[i] == "(":
            depth -= 1
            if depth == 0:
                cut = i
                break
    if function.endswith(")") and cut < len(function):
        function = function[:cut]
    function = function.replace("(anonymous namespace)::", "")
    return collapse_templates(function)


def collapse_templates(name: str) -> str:
    """std::vector<int, std::allocator<int> >::push_back -> std::vector<>::push_back"""
    out, depth = [], 0
    for ch in name:
        if ch == "<":
            if depth == 0:
                out.append("<>")
            depth += 1
        elif ch == ">" and depth > 0:
            depth -= 1
        elif depth == 0:
            out.append(ch)
    return "".join(out)


def by_function(rows: list[tuple[int, float, str]], inclusive: bool) -> list[tuple[int, float, str]]:
    """One line per function. Inlined code is reported under each file it came
    from, and recursion levels apart: self costs add up, inclusive ones
    overlap, so take the largest."""
    merged: dict[str, tuple[int, float]] = {}
    for count, percent, location in rows:
        name = short_name(location)
        if name in merged:
            old_count, old_percent = merged[name]
            merged[name] = (max(old_count, count), max(old_percent, percent)) if inclusive else \
                (old_count + count, old_percent + percent)
        else:
            merged[name] = (count, percent)
    return sorted(((c, p, n) for n, (c, p) in merged.items()), key=lambda row: -row[0])


def entries(profile: str, inclusive: bool) -> list[tuple[int, float, str]]:
    output = subprocess.run(
        ["callgrind_annotate", "--auto=no", "--threshold=100",
         f"--inclusive={'yes' if inclusive else 'no'}", profile],
        capture_output=True, text=True, check=True,
    ).stdout
    found = []
    for line in output.splitlines():
        match = LINE.match(line)
        if match and "PROGRAM TOTALS" not in line:
            found.append((int(match.group(1).replace(",", "")), float(match.group(2)), match.group(3)))
    return found


def total_instructions(profile: str) -> int | None:
    with open(profile) as f:
        for line in f:
            if line.startswith(("summary:", "totals:")):
                return int(line.split()[1])
    return None


def main(argv: list[str]) -> int:
    profile, top = argv[0], int(argv[1]) if len(argv) > 1 else 15
    total = total_instructions(profile)
    print(f"-- {total:,} instructions" if total is not None else "-- no instruction total in the profile")
    inclusive = [
        e for e in entries(profile, True)
        # A recursive function's deeper levels (name'2) are counted again in
        # the outer level; at 100% sit the interpreter frames that called in.
        if not re.search(r"'\d+( \[[^\]]*\])?$", e[2])
        and (e[1] < 100.0 or (e[1] == 100.0 and "vesk::" in e[2]))
    ]
    for title, rows in (("inclusive (with everything called)", by_function(inclusive, True)),
                        ("self (own instructions only)", by_function(entries(profile, False), False))):
        print(f"-- {title}, top {top}")
        for count, percent, name in rows[:top]:
            print(f"{count:>14,} {percent:5.1f}%  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
