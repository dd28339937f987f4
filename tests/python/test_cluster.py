"""vesk encode and vesk check spread over a Dask cluster of two worker processes.

fsspec's memory filesystem lives in each process, so the memory:// files are
put into every worker and the outputs gathered from all of them: that the
outputs are there at all shows the workers did the work.
"""

import json

import pytest

import vesk
from vesk_cli import main

distributed = pytest.importorskip("distributed")
fsspec = pytest.importorskip("fsspec")

DOCUMENTS = {f"d{i}.json": '{"n": %d, "tags": ["a", "b", "a"]}' % i for i in range(6)}
DOCUMENTS["mixed.json"] = '[1, "x"]'
DOCUMENTS["wide.json"] = "[3000000000]"


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=50) as local, distributed.Client(local) as client:
        yield local.scheduler_address, client


def put_in_memory(files):
    fs = fsspec.filesystem("memory")
    for path, data in files.items():
        fs.pipe(path, data)


def gather_from_memory(prefix):
    fs = fsspec.filesystem("memory")
    return {path: fs.cat(path) for path in fs.find(prefix)}


def check_summary(capsys, address, inputs):
    assert main(["check", "--json", "--scheduler", address, *inputs]) == 1
    reports = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    assert [report["file"] for report in reports] == inputs
    return {report["file"].rsplit("/", 1)[1]: report["status"] for report in reports}


@pytest.mark.parametrize("where", ["directory", "memory"])
def test_encode_and_check_on_a_local_cluster(tmp_path, capsys, cluster, where):
    address, client = cluster
    if where == "directory":
        for name, text in DOCUMENTS.items():
            (tmp_path / name).write_text(text)
        inputs = [str(tmp_path / name) for name in DOCUMENTS]
        out_dir = f"file://{tmp_path}/out"
    else:
        client.run(put_in_memory, {f"/in-{id(tmp_path)}/{name}": text.encode() for name, text in DOCUMENTS.items()})
        inputs = [f"memory:///in-{id(tmp_path)}/{name}" for name in DOCUMENTS]
        out_dir = f"memory:///out-{id(tmp_path)}"

    assert main(["encode", "--scheduler", address, "--out-dir", out_dir, "--no-progress", *inputs]) == 1
    captured = capsys.readouterr()
    assert "encoded 7 of 8 files" in captured.out
    assert "mixed.json: UnsupportedTypeError: Unsupported data type: array item 1 is String" in captured.err

    if where == "directory":
        written = {path.name: path.read_bytes() for path in (tmp_path / "out").iterdir()}
    else:
        written = {}
        for files in client.run(gather_from_memory, f"/out-{id(tmp_path)}").values():
            written.update({path.rsplit("/", 1)[1]: data for path, data in files.items()})
    expected = {name.replace(".json", ".vesk"): vesk.dumps(text) for name, text in DOCUMENTS.items()
                if name != "mixed.json"}
    assert written == expected

    statuses = check_summary(capsys, address, inputs)
    assert statuses == {name: 0 if name.startswith("d") else 1 for name in DOCUMENTS}
