"""Compile a JSON document to VESK, write it to a file, read it back.

Usage: python example.py [document.json] [output.vesk]

Without arguments it uses the catalog.json next to this script and a file in
a temporary directory.
"""

import json
import math
import pathlib
import struct
import sys
import tempfile

import vesk


def as_stored(value):
    """The value as VESK keeps it: floats rounded to single precision.

    Integers are stored in 32 bits as well; the bundled catalog stays within
    that range, so they come back unchanged.
    """
    if isinstance(value, float) and math.isfinite(value):
        return struct.unpack("<f", struct.pack("<f", value))[0]
    if isinstance(value, list):
        return [as_stored(item) for item in value]
    if isinstance(value, dict):
        return {key: as_stored(item) for key, item in value.items()}
    return value


def main(argv):
    here = pathlib.Path(__file__).resolve().parent
    source = pathlib.Path(argv[1]) if len(argv) > 1 else here / "catalog.json"
    json_text = source.read_text(encoding="utf-8")

    with tempfile.TemporaryDirectory() as scratch:
        target = pathlib.Path(argv[2]) if len(argv) > 2 else pathlib.Path(scratch) / "catalog.vesk"
        container = vesk.dumps(json_text)
        vesk.dump(json_text, str(target))
        written = target.read_bytes()
        restored = vesk.load(str(target))

    json_size = len(json_text.encode("utf-8"))
    print(f"JSON:  {json_size} bytes ({source.name})")
    print(f"VESK:  {len(container)} bytes ({len(container) / json_size:.0%} of the JSON)")
    print(f"dump wrote the same bytes as dumps: {written == container}")
    matched = restored == as_stored(json.loads(json_text))
    print(f"round trip matched: {matched}")
    return 0 if matched and written == container else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
