import functools
import lzma
import pathlib

TEST_DATA = pathlib.Path(__file__).resolve().parents[1] / "data"
SUITE_DIR = TEST_DATA / "json-test-suite" / "test_parsing"
CORPUS_DIR = TEST_DATA / "corpus"


def suite_files(prefix=""):
    """The conformance suite's files whose names start with prefix ("y_", "n_", "i_")."""
    return sorted(p for p in SUITE_DIR.iterdir() if p.suffix == ".json" and p.name.startswith(prefix))


def corpus_names():
    """The corpus documents by their plain names ("twitter.json"); the repository keeps them xz-compressed."""
    return sorted(p.name.removesuffix(".xz") for p in CORPUS_DIR.glob("*.json.xz"))


@functools.cache
def corpus_text(name):
    return lzma.decompress((CORPUS_DIR / f"{name}.xz").read_bytes()).decode("utf-8")
