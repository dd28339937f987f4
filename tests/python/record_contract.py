"""Writes the golden outcomes that test_contract.py compares against.

Run it only when a change of behaviour is intended and understood:
    python tests/python/record_contract.py
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from contract import GOLDEN_FILE, record, write_golden  # noqa: E402

if __name__ == "__main__":
    write_golden(record())
    print(f"wrote {GOLDEN_FILE}")
