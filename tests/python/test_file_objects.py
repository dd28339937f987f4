"""load and dump on binary file objects: what they read and write, and the
faults of the objects themselves, which pass through unchanged."""

import errno
import gzip
import io
import os
import threading

import pytest

import vesk

TEXT = '{"names": ["a", "b", "a"], "n": [1, 2, 3], "x": 0.5}'
VALUE = vesk.loads(vesk.dumps(TEXT))


class OnlyRead:
    """Has read and nothing else, returning at most `step` bytes a call, as a socket does."""

    def __init__(self, data, step=7):
        self.data, self.step = data, step

    def read(self, size):
        part, self.data = self.data[:min(size, self.step)], self.data[min(size, self.step):]
        return part


class OnlyReadInto(OnlyRead):
    read = None

    def readinto(self, buffer):
        part = OnlyRead.read(self, len(buffer))
        buffer[:len(part)] = part
        return len(part)


class ShortWrites:
    """Takes at most three bytes a call and says so, as a raw stream may."""

    def __init__(self):
        self.parts = []

    def write(self, data):
        self.parts.append(bytes(data[:3]))
        return min(3, len(data))


class Appends:
    """A duck-typed sink whose write returns None, as many do."""

    def __init__(self):
        self.parts = []

    def write(self, data):
        self.parts.append(bytes(data))


def gzip_round_trip(tmp_path):
    with gzip.open(tmp_path / "d.vesk.gz", "wb") as target:
        vesk.dump(TEXT, target)
    with gzip.open(tmp_path / "d.vesk.gz", "rb") as source:
        return vesk.load(source)


SOURCES = {
    "BytesIO": lambda tmp_path: vesk.load(io.BytesIO(vesk.dumps(TEXT))),
    "open rb": lambda tmp_path: (vesk.dump(TEXT, tmp_path / "d.vesk"), vesk.load(open(tmp_path / "d.vesk", "rb")))[1],
    "unbuffered": lambda tmp_path: (vesk.dump(TEXT, tmp_path / "d.vesk"),
                                    vesk.load(open(tmp_path / "d.vesk", "rb", buffering=0)))[1],
    "gzip": gzip_round_trip,
    "read only, short reads": lambda tmp_path: vesk.load(OnlyRead(vesk.dumps(TEXT))),
    "readinto only": lambda tmp_path: vesk.load(OnlyReadInto(vesk.dumps(TEXT))),
    "keyword": lambda tmp_path: vesk.load(path=io.BytesIO(vesk.dumps(TEXT))),
}


@pytest.mark.parametrize("source", SOURCES)
def test_load_reads_file_objects_to_their_end(tmp_path, source):
    assert SOURCES[source](tmp_path) == VALUE


@pytest.mark.parametrize("sink", [io.BytesIO, ShortWrites, Appends])
def test_dump_writes_the_whole_container(sink):
    target = sink()
    vesk.dump(TEXT, target)
    written = target.getvalue() if isinstance(target, io.BytesIO) else b"".join(target.parts)
    assert written == vesk.dumps(TEXT)


def test_load_reads_from_the_current_position_and_leaves_the_rest_consumed():
    stream = io.BytesIO(b"head" + vesk.dumps(TEXT))
    stream.read(4)
    assert vesk.load(stream) == VALUE
    assert stream.read() == b""


def through_fifo(data, directory):
    fifo = directory / "stream.vesk"
    os.mkfifo(fifo)
    threading.Thread(target=fifo.write_bytes, args=(data,), daemon=True).start()
    return str(fifo)


STREAMS = {
    "read": lambda data, _: OnlyRead(data, step=1 << 20),
    "readinto": lambda data, _: io.BytesIO(data),
    "path of a fifo": through_fifo,
}


@pytest.mark.parametrize("stream", STREAMS.values(), ids=STREAMS.keys())
def test_a_long_stream_is_read_past_the_first_requests(stream, tmp_path):
    # 3 MB of unknown size: its bytes span the first chunks, of 1 and 2 MiB,
    # joined at the end.
    rows = ("[%s]" % ", ".join(f'"{r}-{i:07}"' for i in range(60_000)) for r in range(6))
    text = '{"rows": [%s]}' % ", ".join(rows)
    assert vesk.load(stream(vesk.dumps(text), tmp_path)) == vesk.loads(vesk.dumps(text))


class Failing:
    def read(self, size):
        raise OSError(errno.EIO, "device went away")

    def write(self, data):
        raise OSError(errno.ENOSPC, "disk full")


class NonBlocking:
    def read(self, size):
        return None

    def write(self, data):
        return 0


# A file object's faults, and what load or dump raise for them.
FAULTS = [
    (lambda: vesk.load(Failing()), OSError, "device went away"),
    (lambda: vesk.dump(TEXT, Failing()), OSError, "disk full"),
    (lambda: vesk.load(io.StringIO("text")), TypeError, "load() needs a binary file object: read() returned str"),
    (lambda: vesk.dump(TEXT, io.StringIO()), TypeError, "string argument expected, got 'bytes'"),
    (lambda: vesk.load(NonBlocking()), BlockingIOError, "load() cannot wait on a non-blocking file object"),
    (lambda: vesk.dump(TEXT, NonBlocking()), vesk.FileError, "IO error: failed to write whole buffer"),
    (lambda: vesk.load(io.BytesIO(b"VESK")), vesk.ParseError, "Failed to parse VESK: Header requires 13 bytes, got 4"),
    (lambda: vesk.load(closed_stream()), ValueError, "I/O operation on closed file"),
]


def closed_stream():
    stream = io.BytesIO(vesk.dumps(TEXT))
    stream.close()
    return stream


@pytest.mark.parametrize("call,error,message", FAULTS)
def test_faults_of_file_objects(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)
    assert type(raised.value) is error


def test_text_that_fails_writes_nothing_to_the_file_object():
    target = io.BytesIO()
    with pytest.raises(vesk.UnsupportedTypeError):
        vesk.dump('[1, "x"]', target)
    assert target.getvalue() == b""


@pytest.mark.skipif(not os.environ.get("VESK_SLOW_TESTS"), reason="reads 4 GiB; set VESK_SLOW_TESTS=1")
def test_a_stream_longer_than_a_container_is_refused_as_a_file_is():
    class Endless(io.RawIOBase):
        def readable(self):
            return True

        def readinto(self, buffer):
            return len(buffer)

    with pytest.raises(vesk.FileError) as raised:
        vesk.load(Endless())
    assert str(raised.value) == "IO error: file exceeds the container size limit (4294967295 bytes)"
    assert (raised.value.errno, raised.value.filename) == (None, None)
