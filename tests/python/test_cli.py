import json
import os
import pathlib
import subprocess
import sys
import threading

import pytest

import vesk
from vesk_cli import main
from vesk_cli.check import check_text, render
from vesk_cli.inspection import inspect_container


def run_cli(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "vesk_cli", *map(str, args)], capture_output=True, text=True,
                          cwd=cwd, timeout=120)


def test_encode_many_files_in_parallel_then_decode(tmp_path):
    documents = {"a.json": '{"b": [1, 2], "a": "x"}', "b.json": '[{"k": "v"}, {"k": "v"}]'}
    for name, text in documents.items():
        (tmp_path / name).write_text(text)
    done = run_cli("encode", "-j", 2, "--out-dir", tmp_path / "out", *(tmp_path / n for n in documents))
    assert done.returncode == 0, done.stderr
    assert "encoded 2 of 2 files" in done.stdout
    for name, text in documents.items():
        assert (tmp_path / "out" / name.replace(".json", ".vesk")).read_bytes() == vesk.dumps(text)
    decoded = run_cli("decode", tmp_path / "out" / "a.vesk")
    assert (decoded.returncode, decoded.stdout) == (0, '{"a":"x","b":[1,2]}\n')


def test_encode_reports_a_failure_among_many_files(tmp_path):
    names = ["good1.json", "bad.json", "good2.json", "latin1.json"]
    (tmp_path / "good1.json").write_text("[1]")
    (tmp_path / "bad.json").write_text('{"a": [1, "x"]}')
    (tmp_path / "good2.json").write_text('"s"')
    (tmp_path / "latin1.json").write_bytes(b'"\xe9"')
    done = run_cli("encode", *names, cwd=tmp_path)
    assert done.returncode == 1
    assert "encoded 2 of 4 files" in done.stdout
    assert "bad.json: UnsupportedTypeError: Unsupported data type: array item 1 is String, expected Int32" \
        in done.stderr
    assert "latin1.json: not UTF-8 text" in done.stderr
    assert sorted(p.name for p in tmp_path.glob("*.vesk")) == ["good1.vesk", "good2.vesk"]


@pytest.mark.parametrize("text,status", [('{"b": 1, "a": 0.5}', 0), ("[3000000000]", 1), ("[1, null]", 1)])
def test_check_exit_status(tmp_path, text, status):
    (tmp_path / "doc.json").write_text(text)
    done = run_cli("check", tmp_path / "doc.json")
    assert done.returncode == status, done.stdout + done.stderr


def test_missing_file_and_usage_errors(tmp_path, capsys):
    assert main(["decode", str(tmp_path / "nope.vesk")]) == 1
    assert "nope.vesk: No such file or directory" in capsys.readouterr().err
    assert main(["check", str(tmp_path / "nope.json")]) == 1
    assert main(["encode", "-o", "x.vesk", "a.json", "b.json"]) == 2
    assert "-o takes one input" in capsys.readouterr().err
    with pytest.raises(SystemExit) as raised:
        main(["frobnicate"])
    assert raised.value.code == 2


# Arguments that do not work together or values out of range: exit status 2 and what is wrong.
USAGE_ERRORS = [
    (["decode", "--indent", "-1", "x.vesk"], "argument --indent: must be 0 or more, got -1"),
    (["decode", "--indent", "two", "x.vesk"], "argument --indent: expected a whole number, got 'two'"),
    (["encode", "-j", "0", "x.json"], "argument -j/--jobs: must be 1 or more, got 0"),
    (["inspect", "--top", "-3", "x.vesk"], "argument --top: must be 0 or more, got -3"),
    (["check", "--examples", "1.5", "x.json"], "argument --examples: expected a whole number, got '1.5'"),
    (["encode", "--out-dir", "out", "-"], "standard input has no name to put in --out-dir; use -o"),
    (["decode", "-", "-"], "standard input can be read only once"),
    (["decode", "-o", "x.json", "a.vesk", "b.vesk"], "-o takes one input; use --out-dir for several"),
    (["encode", "a.json", "-o", "a.json"], "a.json: output would overwrite the input"),
    (["encode", "a.json", "b/../a.json", "--out-dir", "o"], "would both be written to"),
]


@pytest.mark.parametrize("arguments,message", USAGE_ERRORS)
def test_usage_errors_exit_2_with_the_reason(tmp_path, arguments, message):
    done = run_cli(*arguments, cwd=tmp_path)
    assert done.returncode == 2, done.stderr
    assert message in done.stderr
    assert "Traceback" not in done.stderr


def test_standard_input_and_output_through_a_pipeline(tmp_path):
    text = '{"b": [1, 2], "a": "\u00e9"}'
    encoded = subprocess.run([sys.executable, "-m", "vesk_cli", "encode", "-", "-o", "-"], input=text.encode(),
                             capture_output=True, timeout=60)
    assert encoded.returncode == 0, encoded.stderr
    assert encoded.stdout == vesk.dumps(text)
    assert b"encoded 1 of 1 file" in encoded.stderr  # the summary keeps out of the container's way
    for command in (["decode", "-"], ["inspect", "--json", "-"]):
        done = subprocess.run([sys.executable, "-m", "vesk_cli", *command], input=encoded.stdout,
                              capture_output=True, timeout=60)
        assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["file"] == "<stdin>"
    checked = subprocess.run([sys.executable, "-m", "vesk_cli", "check", "--json", "-"], input=text.encode(),
                             capture_output=True, timeout=60)
    assert json.loads(checked.stdout)["key-order"] == ["$"]


def test_commands_read_a_fifo(tmp_path):
    fifo = tmp_path / "pipe.vesk"
    os.mkfifo(fifo)
    container = vesk.dumps("[1, 2, 3]")
    writer = threading.Thread(target=fifo.write_bytes, args=(container,))
    writer.start()
    done = run_cli("decode", fifo)
    writer.join(timeout=60)
    assert (done.returncode, done.stdout) == (0, "[1,2,3]\n")


@pytest.mark.parametrize("command", ["decode", "inspect", "check"])
def test_many_files_in_input_order_with_one_failing(tmp_path, command):
    texts = [f'{{"n": {i}}}' for i in range(5)]
    suffix = ".json" if command == "check" else ".vesk"
    names = []
    for i, text in enumerate(texts):
        path = tmp_path / f"d{i}{suffix}"
        path.write_bytes(text.encode() if command == "check" else vesk.dumps(text))
        names.append(path)
    names.insert(2, tmp_path / f"missing{suffix}")
    done = run_cli(command, "-j", 2, *(["--json"] if command != "decode" else []), *names)
    assert done.returncode == 1
    assert f"missing{suffix}: No such file or directory" in done.stderr
    lines = done.stdout.splitlines()
    if command == "decode":
        assert [json.loads(line) for line in lines] == [{"n": i} for i in range(5)]
    else:
        assert [pathlib.Path(json.loads(line)["file"]).name for line in lines] == [f"d{i}{suffix}" for i in range(5)]


def test_encode_keeps_existing_outputs_unless_forced(tmp_path):
    (tmp_path / "a.json").write_text("[1]")
    (tmp_path / "a.vesk").write_bytes(b"keep")
    (tmp_path / "b.json").write_text("[2]")
    done = run_cli("encode", "a.json", "b.json", cwd=tmp_path)
    assert done.returncode == 1
    assert "a.vesk exists; --force overwrites it" in done.stderr
    assert (tmp_path / "a.vesk").read_bytes() == b"keep"
    assert (tmp_path / "b.vesk").read_bytes() == vesk.dumps("[2]")
    done = run_cli("encode", "--force", "a.json", "b.json", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "a.vesk").read_bytes() == vesk.dumps("[1]")


def test_check_json_is_valid_json_with_non_finite_values_as_strings(tmp_path):
    (tmp_path / "doc.json").write_text('{"big": 1e39, "neg": -1e39}')
    done = run_cli("check", "--json", tmp_path / "doc.json")

    def refuse(constant):
        raise AssertionError(f"not JSON: {constant}")

    report = json.loads(done.stdout, parse_constant=refuse)
    assert [(f["path"], f["after"]) for f in report["findings"]] == [("$.big", "Infinity"), ("$.neg", "-Infinity")]


def test_module_and_console_script_agree(tmp_path):
    script = pathlib.Path(sys.executable).parent / "vesk"
    if not script.exists():
        pytest.skip("the console script is not installed beside this interpreter")
    vesk.dump('{"a": [0.5]}', tmp_path / "d.vesk")
    for arguments in (["--help"], ["decode", "--help"], ["inspect", str(tmp_path / "d.vesk")],
                      ["decode", "--indent", "-1"]):
        as_module = run_cli(*arguments)
        as_script = subprocess.run([str(script), *arguments], capture_output=True, text=True, timeout=60)
        assert (as_module.returncode, as_module.stdout, as_module.stderr) == \
            (as_script.returncode, as_script.stdout, as_script.stderr), arguments


def test_cluster_options_name_what_to_install(tmp_path):
    (tmp_path / "a.json").write_text("[1]")
    hide = "import sys; sys.modules['distributed'] = sys.modules['fsspec'] = None; "
    for arguments, missing in ((["encode", "--scheduler", "tcp://127.0.0.1:1", "a.json"], "dask[distributed]"),
                               (["check", "memory://x/*.json"], "fsspec")):
        done = subprocess.run([sys.executable, "-c", hide + "from vesk_cli import main; sys.exit(main())",
                               *arguments], capture_output=True, text=True, cwd=tmp_path, timeout=60)
        assert done.returncode == 2
        assert f"needs {missing}, which is not installed: pip install 'vesk[dask]'" in done.stderr


def infinity_expectation():
    try:
        vesk.loads(vesk.dumps("1e39"))
    except vesk.ParseError as error:
        return {"refused": {"stage": "loads", "error": "ParseError", "message": str(error)}}
    return {"kind": "float-infinity", "after": float("inf")}


# JSON text -> the one finding (kind, path, before, after) or the refusal check reports.
CHECKS = [
    ("[3000000000, -2147483649]", [("integer-wraps", "$[0]", 3000000000, -1294967296),
                                   ("integer-wraps", "$[1]", -2147483649, 2147483647)]),
    ("9223372036854775809", [("integer-unsigned", "$", 2**63 + 1, 1)]),
    ('{"n": 18446744073709551616}', [("integer-becomes-float", "$.n", 2**64, 2.0**64)]),
    ("-0", [("negative-zero", "$", 0, -0.0)]),
    ('{"a b": [1, 2.5]}', [("mixed-array-float", '$["a b"][0]', 1, 1.0)]),
    ("[0.1]", [("float-loses-digits", "$[0]", 0.1, 0.10000000149011612)]),
    ("1e-50", [("float-zero", "$", 1e-50, 0.0)]),
    ('{"i": -2147483648, "f": 0.5, "s": "x", "b": true, "n": null, "o": {"k": []}}', []),
]


@pytest.mark.parametrize("text,expected", CHECKS)
def test_check_classifies_each_change(text, expected):
    report = check_text(text, "doc")
    assert report.refused is None
    assert [(f.kind, f.path, f.before, f.after) for f in report.findings] == expected
    assert all(type(f.after) is type(after) for f, (_, _, _, after) in zip(report.findings, expected))


def test_check_reports_infinity_as_the_codec_does():
    report = check_text("[1e39]", "doc")
    expected = infinity_expectation()
    if "refused" in expected:
        assert report.refused == expected["refused"]
    else:
        assert [(f.kind, f.after) for f in report.findings] == [(expected["kind"], expected["after"])]


@pytest.mark.parametrize("text,stage,error,path", [
    ('{"é": [{"a": [1, "a"]}]}', "dumps", "UnsupportedTypeError", '$["é"][0].a'),
    ("[1, ", "dumps", "ParseError", None),
    ("[" * 200 + "]" * 200, "dumps", "ParseError", None),
])
def test_check_reports_refusals_with_the_codec_message_and_path(text, stage, error, path):
    report = check_text(text, "doc")
    with pytest.raises(ValueError) as raised:
        vesk.dumps(text)
    assert report.refused == {"stage": stage, "error": error, "message": str(raised.value), "path": path}
    assert report.status == 1
    assert (f"\n      at {path}" in render(report, None)) == (path is not None)


def test_encode_counts_narrowed_values_and_strict_refuses_them(tmp_path):
    documents = {"ids.json": '{"x": [1, 2], "ids": [7, 3000000000, -2147483649]}', "plain.json": "[1, 2.5]",
                 "odd.json": '{"ok": 1, "big": 1e39}'}
    for name, text in documents.items():
        (tmp_path / name).write_text(text)
    done = run_cli("encode", "-j", 1, *documents, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert "2 files with numbers that read back changed (--strict refuses them):" in done.stdout
    assert "ids.json: 2 values, the first at $.ids[1]" in done.stdout
    assert "odd.json: 1 value, the first at $.big" in done.stdout
    assert "plain.json" not in done.stdout
    strict = run_cli("encode", "-j", 1, "--strict", "--out-dir", "strict", *documents, cwd=tmp_path)
    assert strict.returncode == 1
    assert "encoded 1 of 3 files" in strict.stdout
    assert "ids.json: LossError: Value not kept: $.ids[1] is 3000000000, stored as -1294967296" in strict.stderr
    assert sorted(p.name for p in (tmp_path / "strict").iterdir()) == ["plain.vesk"]


def test_check_notes_key_order_and_repeated_keys_without_failing():
    report = check_text('{"b": {"y": 1, "x": 2}, "a": 1, "a": 3}', "doc")
    assert (report.findings, report.reordered_objects, report.duplicate_keys) == ([], ["$", "$.b"], ["a"])
    assert report.status == 0


def test_inspect_reports_blocks_shapes_and_dictionary(tmp_path, capsys):
    text = '[{"id": 1, "tag": "t"}, {"id": 2, "tag": "t"}, {"id": 3, "tag": "u"}]'
    container = vesk.dumps(text)
    report = inspect_container(container)
    assert sum(block["bytes"] for block in report["blocks"]) == len(container) == report["size"]
    shapes = {d["index"]: (d["kind"], d["fields"], d["elem_type"], d["uses"]) for d in report["definitions"][6:]}
    assert shapes == {6: ("Object", [("id", "Int32"), ("tag", "String")], None, 3), 7: ("Array", None, "Object", 1)}
    assert report["dictionary"]["entries"] == [{"string": "t", "references": 1}]
    assert report["values"]["Object"] == 3 and report["values"]["StrRef"] == 1
    assert report["minified_json_bytes"] == len(json.dumps(vesk.loads(container), separators=(",", ":")))

    (tmp_path / "doc.vesk").write_bytes(container)
    assert main(["inspect", "--json", str(tmp_path / "doc.vesk")]) == 0
    assert json.loads(capsys.readouterr().out)["size"] == len(container)
    assert main(["inspect", str(tmp_path / "doc.vesk")]) == 0
    assert "{id: Int32, tag: String}" in capsys.readouterr().out
    (tmp_path / "bad.vesk").write_bytes(b"\x01")
    assert main(["inspect", str(tmp_path / "bad.vesk")]) == 1
    assert "ParseError: Failed to parse VESK: Header requires 13 bytes, got 1" in capsys.readouterr().err


def test_decode_indents_and_writes_a_file(tmp_path):
    vesk.dump('{"b": [1], "a": null}', tmp_path / "d.vesk")
    assert main(["decode", "--indent", "4", "-o", str(tmp_path / "d.json"), str(tmp_path / "d.vesk")]) == 0
    assert (tmp_path / "d.json").read_text() == json.dumps({"a": None, "b": [1]}, indent=4) + "\n"
