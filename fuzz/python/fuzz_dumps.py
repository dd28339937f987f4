"""dumps on mutated JSON text, against Python's own JSON reader and a model of
the compiler's rules. What it returns must read back, through loads and the
reference reader alike, as the value that Python's reader finds in the text,
narrowed as the container narrows. What it refuses: a text Python's reader
takes is refused only for the first array whose items disagree, with the
model's message, or for what Python's reader is laxer about than JSON
(numbers out of range, lone surrogate escapes, nesting); a text it refuses,
dumps refuses with a reader's message positioned inside the text; the only
limit of the writer a short text can pass is a member name over 255 bytes."""

import json
import re
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


TYPE_NAMES = {type(None): "Null", bool: "Bool", float: "Float32", str: "String", list: "Array", dict: "Object"}
NUMBERS = {"Int32", "Uint32", "Float32"}


def type_name(value):
    if isinstance(value, int) and not isinstance(value, bool):
        if -(2**63) <= value < 2**63:
            return "Int32"
        return "Uint32" if value < 2**64 else "Float32"
    return TYPE_NAMES[type(value)]


def integer_literal(literal):
    # -0 is a float to the compiler, and so is an integer beyond 64 bits.
    return -0.0 if literal == "-0" else int(literal)


def first_mixed_array(value):
    """The refusal of the first array, in the compiler's order (members by
    the bytes of their names, each array after its items), whose items are
    not all of the type of its first non-null item, numbers all counting as
    one type."""
    if isinstance(value, dict):
        for key in sorted(value, key=lambda key: key.encode("utf-8", "surrogatepass")):
            if (found := first_mixed_array(value[key])) is not None:
                return found
        return None
    if not isinstance(value, list):
        return None
    for item in value:
        if (found := first_mixed_array(item)) is not None:
            return found
    types = [type_name(item) for item in value]
    expected = next((t for t in types if t != "Null"), None)
    for position, found in enumerate(types):
        if expected is not None and found != expected and not (found in NUMBERS and expected in NUMBERS):
            return f"Unsupported data type: array item {position} is {found}, expected {expected}"
    return None


def has_long_name(value):
    """Whether a member name of the value takes more than 255 bytes."""
    if isinstance(value, dict):
        return any(len(key.encode("utf-8", "surrogatepass")) > 255 or has_long_name(item)
                   for key, item in value.items())
    return isinstance(value, list) and any(has_long_name(item) for item in value)


# What Python's reader takes and the compiler's reader refuses: besides
# these, NaN, Infinity and -Infinity, which are numbers to Python's only.
LAXER_IN_PYTHON = ("number out of range", "lone leading surrogate in hex escape", "unexpected end of hex escape",
                   "recursion limit exceeded")
MESSAGE = re.compile(r"Failed to parse VESK: (.+) at line (\d+) column (\d+)")


def check_refusal(text, message):
    try:
        model = json.loads(text, parse_int=integer_literal)
    except (ValueError, RecursionError):
        model = None
    if message.startswith("Unsupported data type: "):
        if model is None or first_mixed_array(model) != message:
            raise AssertionError(f"{text!r:.200} refused with {message!r}, the model says {first_mixed_array(model)!r}")
        return
    if message == "Failed to parse VESK: Field name too long":
        # The one limit of the writer that a text this short can pass.
        if model is None or first_mixed_array(model) is not None or not has_long_name(model):
            raise AssertionError(f"{text!r:.200} refused with {message!r}")
        return
    parsed = MESSAGE.fullmatch(message)
    if not parsed:
        raise AssertionError(f"{text!r:.200} refused with {message!r}")
    description, line = parsed[1], int(parsed[2])
    if not 1 <= line <= text.count("\n") + 1:
        raise AssertionError(f"{text!r:.200}: {message!r} lies outside the text")
    laxer = description in LAXER_IN_PYTHON or (
        description in ("expected value", "invalid number") and ("NaN" in text or "Infinity" in text))
    if model is not None and not laxer:
        raise AssertionError(f"{text!r:.200}, which Python's reader takes, refused with {message!r}")


def check(data):
    text = data.decode("utf-8", "surrogateescape")
    try:
        container = vesk.dumps(text)
    except UnicodeEncodeError:
        if not has_surrogate(text):
            raise
        return
    except ValueError as error:
        check_refusal(text, str(error))
        return
    loaded = vesk.loads(container)
    if not reference.same(loaded, reference.decode(container)):
        raise AssertionError("loads and the reference reader differ on what dumps wrote")
    model = json.loads(text)  # what dumps accepts, Python's reader accepts
    if not narrowed_matches(loaded, model):
        raise AssertionError(f"{text!r:.200} read back as {loaded!r:.200}")
    strict_model = json.loads(text, parse_int=integer_literal)
    if first_mixed_array(strict_model) is not None or has_long_name(strict_model):
        raise AssertionError(f"{text!r:.200} holds a fault, yet was taken")


def main():
    atheris.Setup(sys.argv, check)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
