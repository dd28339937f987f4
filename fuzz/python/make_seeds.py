"""Writes seed inputs for the Python-level fuzzers: for fuzz_dumps the JSON
texts of a directory, for fuzz_loads the containers that dumps and emit make
of them and of a few values. Usage: make_seeds.py JSON_DIR OUT_DIR."""

import hashlib
import json
import pathlib
import sys

import vesk


def main():
    source, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    if not source.is_dir():
        sys.exit(f"missing seed directory {source}")
    for name in ("dumps", "loads"):
        (out / name).mkdir(parents=True, exist_ok=True)

    def write(target, data):
        (out / target / hashlib.sha1(data).hexdigest()).write_bytes(data)

    values = [5, "x", 1.5, True, [1, 2, 3], {"a": 1}, [{"a": "x"}, {"b": "x"}], [[1], ["x"]], {"a": {"b": [1.5]}}]
    for value in values:
        write("loads", vesk.emit(value))
        write("loads", vesk.dumps(json.dumps(value)))
    for path in sorted(source.glob("*.json")):
        data = path.read_bytes()
        if len(data) > 4096:
            continue
        write("dumps", data)
        try:
            write("loads", vesk.dumps(data.decode("utf-8")))
        except (ValueError, UnicodeError):
            pass


if __name__ == "__main__":
    main()
