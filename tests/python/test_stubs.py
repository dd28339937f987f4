import ast
import importlib.util
import inspect
import pathlib
import re
import subprocess
import sys

import pytest

import vesk

STUB = pathlib.Path(__file__).resolve().parents[2] / "src" / "python" / "vesk-stubs" / "__init__.pyi"


def stub_tree():
    return ast.parse(STUB.read_text())


def is_stub_only(node):
    """Protocols describe arguments for the checkers; the module has no such class."""
    return isinstance(node, ast.ClassDef) and any(getattr(base, "id", None) == "Protocol" for base in node.bases)


def test_stub_declares_every_public_name_of_the_module():
    declared = set()
    for node in stub_tree().body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not is_stub_only(node):
            declared.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            if not (isinstance(node.annotation, ast.Name) and node.annotation.id == "TypeAlias"):
                declared.add(node.target.id)
    module_names = {name for name in dir(vesk) if not name.startswith("__") or name in ("__all__", "__version__")}
    assert declared == module_names


def test_stub_functions_match_the_text_signatures():
    functions = [node for node in stub_tree().body if isinstance(node, ast.FunctionDef)]
    assert functions
    for node in functions:
        runtime = inspect.signature(getattr(vesk, node.name))
        by_kind = {kind: [p for p in runtime.parameters.values() if p.kind is kind]
                   for kind in (inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.KEYWORD_ONLY)}
        assert len(runtime.parameters) == sum(map(len, by_kind.values())), node.name
        assert [p.name for p in by_kind[inspect.Parameter.POSITIONAL_OR_KEYWORD]] == [a.arg for a in node.args.args]
        assert all(p.default is p.empty for p in by_kind[inspect.Parameter.POSITIONAL_OR_KEYWORD]), node.name
        keyword_only = by_kind[inspect.Parameter.KEYWORD_ONLY]
        assert [p.name for p in keyword_only] == [a.arg for a in node.args.kwonlyargs], node.name
        assert [p.default for p in keyword_only] == [ast.literal_eval(d) for d in node.args.kw_defaults], node.name
        assert not (node.args.posonlyargs or node.args.vararg or node.args.kwarg or node.args.defaults), node.name


def test_stub_classes_have_the_module_bases():
    for node in stub_tree().body:
        if isinstance(node, ast.ClassDef) and not is_stub_only(node):
            bases = tuple(getattr(vesk, b.id, None) or __builtins__[b.id] for b in node.bases)
            assert getattr(vesk, node.name).__bases__ == bases, node.name


USES = '''
import io
import pathlib
import vesk

data: bytes = vesk.dumps('{"a": 1}')
value = vesk.loads(memoryview(data))
vesk.dump("[]", pathlib.Path("x.vesk"))
vesk.load(b"x.vesk")
try:
    vesk.load("x.vesk")
except vesk.FileError as error:
    number: int | None = error.errno
size: int = len(vesk.emit({"a": [1.5]}))
version: str = vesk.__version__
nested: bytes = vesk.emit([{"a": [1, 2.5, "x", True]}, "y"])
packed: bytes = vesk.pack(({"a": [None, 2.5]}, None))
with open("x.vesk", "rb") as source:
    vesk.load(source)
with open("x.vesk", "wb") as target:
    vesk.dump("[]", target)
vesk.load(io.BytesIO(data))
vesk.dumps(123)
vesk.loads("x")
vesk.load(3)
text: str = vesk.dumps("{}")
vesk.emit(None)
vesk.emit(b"x")
vesk.emit((1, 2))
vesk.emit({1: 2})
vesk.emit([None])
vesk.pack({1: 2})
vesk.pack(b"x")
vesk.load(io.StringIO("x"))
vesk.dump("[]", io.StringIO())
json_text: str = vesk.to_json(data, indent=2, allow_nan=True)
vesk.to_json(data, 2)
vesk.to_json("x")
'''

BAD_STARTS = ("vesk.dumps(123)", 'vesk.loads("x")', "vesk.load(3)", "text: str", "vesk.emit(None)",
              'vesk.emit(b"x")', "vesk.emit((1, 2))", "vesk.emit({1: 2})", "vesk.emit([None])",
              "vesk.pack({1: 2})", 'vesk.pack(b"x")',
              "vesk.load(io.StringIO", "vesk.dump(\"[]\", io.StringIO", "vesk.to_json(data, 2)",
              'vesk.to_json("x")')
BAD_LINES = [n for n, line in enumerate(USES.splitlines(), 1) if line.startswith(BAD_STARTS)]

# Checker -> command line and the pattern of its error lines (group 1: line number).
CHECKERS = {
    "mypy": (["-m", "mypy", "--strict", "--no-incremental", "uses.py"], r"^uses\.py:(\d+): error:"),
    "pyright": (["-m", "pyright", "--pythonpath", sys.executable, "uses.py"], r"uses\.py:(\d+):\d+ - error:"),
}


@pytest.mark.parametrize("checker", CHECKERS)
def test_type_checkers_check_calls_against_the_stubs(tmp_path, checker):
    if importlib.util.find_spec(checker) is None:
        pytest.skip(f"{checker} is not installed")
    arguments, pattern = CHECKERS[checker]
    (tmp_path / "uses.py").write_text(USES)
    done = subprocess.run([sys.executable, *arguments], cwd=tmp_path, capture_output=True, text=True, timeout=300)
    flagged = sorted({int(m.group(1)) for m in re.finditer(pattern, done.stdout, re.MULTILINE)})
    assert flagged == BAD_LINES, done.stdout + done.stderr
