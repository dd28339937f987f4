"""loads on containers, mutated with knowledge of their layout: besides
libFuzzer's own byte mutations, counts, lengths, offsets, indices and tags
found by the reference reader are set to extreme values. Every result must
equal the reference reader's, and every refusal must carry its message, for
the container given as bytes and as two bytes subclasses: a plain one, and
one whose every buffer export (__buffer__, from Python 3.12) is fresh memory,
the first holding the container and later ones another container, each
overwritten once released. A reader that took the buffer twice, or read it
after releasing it, reads something else than the container."""

import random
import sys

import atheris

# Not instrumented by atheris: the module's own coverage guides the search,
# and instrumented Python runs many times slower (a container of 48059 nulls
# took over 10 seconds so).
import reference_decoder as reference
import vesk

EXTREMES = {
    1: [0, 1, 0x7F, 0x80, 0xFE, 0xFF],
    2: [0, 1, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF],
    4: [0, 1, 13, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF],
}
TAGS = [0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0F, 0x10, 0x11, 0x12, 0xFF]
STRING_HEADS = [0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFD, 0xFE, 0xFF]


def patch(data, rng):
    fields = []
    try:
        reference.read_document(data, fields)
    except Exception:  # noqa: BLE001 - the fields read before a refusal are what we want
        pass
    if not fields:
        return None
    out = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        position, width, kind = rng.choice(fields)
        if kind == "tag":
            value = rng.choice(TAGS)
        elif kind == "length" and width == 1:
            value = rng.choice(STRING_HEADS)
        else:
            current = int.from_bytes(out[position : position + width], "little")
            value = rng.choice(EXTREMES[width] + [current - 1, current + 1, len(data), len(data) - position])
        out[position : position + width] = (value % (1 << (8 * width))).to_bytes(width, "little")
    return bytes(out)


def mutate(data, max_size, seed):
    rng = random.Random(seed)
    if rng.random() < 0.5:
        patched = patch(data, rng)
        if patched is not None:
            return patched[:max_size]
    return atheris.Mutate(data, max_size)


class Subclass(bytes):
    pass


class Shifting(bytes):
    def __new__(cls, data, later):
        self = super().__new__(cls, data)
        self.exports = [data, later]
        return self

    def __buffer__(self, flags):
        contents = self.exports[0]
        self.exports = self.exports[1:] or self.exports
        return memoryview(bytearray(contents))

    def __release_buffer__(self, view):
        view[:] = b"\xff" * len(view)


def outcome(data):
    try:
        return ("value", vesk.loads(data))
    except ValueError as error:
        return ("refused", str(error))


def check(data):
    try:
        expected = ("value", reference.decode(data))
    except reference.Refused as error:
        expected = ("refused", "Failed to parse VESK: " + str(error))
    later = patch(data, random.Random(data)) or data[::-1]
    for given in (data, Subclass(data), Shifting(data, later)):
        result = outcome(given)
        agree = result[0] == expected[0] and (
            reference.same(result[1], expected[1]) if result[0] == "value" else result[1] == expected[1]
        )
        if not agree:
            raise AssertionError(
                f"loads of {type(given).__name__} gave {result!r:.300}, the reference reader {expected!r:.300}"
            )


def main():
    atheris.Setup(sys.argv, check, custom_mutator=mutate)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
