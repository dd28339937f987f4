"""dumps on mutated JSON text. What it returns must read back, through loads
and the reference reader alike, as the value that Python's own JSON reader
finds in the text, narrowed as the container narrows; what it refuses, it
refuses with one of the codec's messages."""

import json
import struct
import sys

import atheris

import reference_decoder as reference
import vesk


def has_surrogate(text):
    return any(0xD800 <= ord(c) <= 0xDFFF for c in text)


def narrowed_matches(loaded, model):
    """Whether `loaded` can be what the container made of `model` (Python's
    reading of the text): the same structure, keys in byte order, texts
    equal, numbers equal where their narrowing is plain."""
    if isinstance(model, bool) or model is None or isinstance(model, str):
        return type(loaded) is type(model) and loaded == model
    if isinstance(model, (int, float)):
        if not isinstance(loaded, (int, float)) or isinstance(loaded, bool):
            return False
        if isinstance(model, int) and isinstance(loaded, int) and -(2**31) <= model < 2**31:
            return loaded == model
        if isinstance(model, float) and isinstance(loaded, float) and abs(model) < 3.4e38:
            return struct.unpack("<f", struct.pack("<f", model))[0] == loaded
        return True  # wrapped, unsigned or mixed with floats: not modelled here
    if isinstance(model, list):
        return isinstance(loaded, list) and len(loaded) == len(model) and all(
            narrowed_matches(a, b) for a, b in zip(loaded, model)
        )
    keys = sorted(model, key=lambda key: key.encode("utf-8", "surrogatepass"))
    return (
        isinstance(loaded, dict)
        and list(loaded) == keys
        and all(narrowed_matches(loaded[key], model[key]) for key in keys)
    )


def check(data):
    text = data.decode("utf-8", "surrogateescape")
    try:
        container = vesk.dumps(text)
    except UnicodeEncodeError:
        if not has_surrogate(text):
            raise
        return
    except ValueError as error:
        if not str(error).startswith(("Failed to parse VESK: ", "Unsupported data type: ")):
            raise
        return
    loaded = vesk.loads(container)
    if not reference.same(loaded, reference.decode(container)):
        raise AssertionError("loads and the reference reader differ on what dumps wrote")
    model = json.loads(text)  # what dumps accepts, Python's reader accepts
    if not narrowed_matches(loaded, model):
        raise AssertionError(f"{text!r:.200} read back as {loaded!r:.200}")


def main():
    atheris.Setup(sys.argv, check)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
