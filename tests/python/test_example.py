import os
import pathlib
import subprocess
import sys

import vesk

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "example.py"


def test_example_reports_matching_round_trip(tmp_path):
    module_dir = str(pathlib.Path(vesk.__file__).parent)
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join([module_dir, os.environ.get("PYTHONPATH", "")]))
    target = tmp_path / "out.vesk"
    run = subprocess.run([sys.executable, str(EXAMPLE), str(EXAMPLE.parent / "catalog.json"), str(target)],
                         capture_output=True, text=True, env=environment, timeout=60)
    assert run.returncode == 0, run.stderr
    assert "round trip matched: True" in run.stdout
    assert f"VESK:  {target.stat().st_size} bytes" in run.stdout
