"""emit on values generated from the input: every type it takes and some it
refuses, numbers whose __index__/__float__ return, raise, change the
containers being converted or call emit again. What emit returns must read
back, through loads and the reference reader alike; what it raises must be
one of its documented failures or what the value's own methods raised. A
value without such numbers must give exactly what the Python model of emit's
rules gives, container or exception."""

import pathlib
import sys

import atheris

import reference_decoder as reference
import vesk

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tests" / "python"))
from emit_model import emit_model  # noqa: E402


class Planted(BaseException):
    """Raised by a hostile number; must come out of emit unchanged."""


class Hostile:
    # Calls of emit from inside emit, at most this many deep: each hostile
    # number of a value may call once, so deeper chains cost exponential time
    # without testing anything new.
    reentry_budget = 2

    made = 0

    def __init__(self, provider, containers):
        Hostile.made += 1
        self.action = provider.ConsumeIntInRange(0, 9)
        self.value = provider.ConsumeIntInRange(-(2**40), 2**40)
        self.use_float = provider.ConsumeBool()
        self.containers = containers

    def act(self):
        target = self.containers[self.value % len(self.containers)] if self.containers else None
        if self.action == 0:
            raise ValueError("not a number today")  # dropped: not that type
        if self.action == 1:
            raise Planted()
        if self.action == 2 and isinstance(target, list):
            target.clear()
        elif self.action == 3 and isinstance(target, list):
            target.append(1)
        elif self.action == 4 and isinstance(target, dict):
            target[f"k{self.value}"] = 1
        elif self.action == 5 and isinstance(target, dict) and target:
            target.pop(next(iter(target)))
        elif self.action == 6 and target is not None and Hostile.reentry_budget > 0:
            Hostile.reentry_budget -= 1
            try:
                vesk.emit(target)
            except (TypeError, ValueError, RecursionError):
                pass
            finally:
                Hostile.reentry_budget += 1
        return self.value

    def __index__(self):
        if self.use_float:
            raise TypeError("use __float__")
        return self.act()

    def __float__(self):
        return float(self.act())


def build(provider, depth, containers):
    choice = provider.ConsumeIntInRange(0, 13 if depth < 20 else 8)
    if choice == 0:
        return provider.ConsumeIntInRange(-(2**64), 2**64)
    if choice == 1:
        return provider.ConsumeIntInRange(-(2**31) - 2, 2**31 + 2)
    if choice == 2:
        return provider.ConsumeFloat()
    if choice == 3:
        return provider.ConsumeUnicode(provider.ConsumeIntInRange(0, 40))
    if choice == 4:
        return provider.ConsumeBool()
    if choice == 5:
        return Hostile(provider, containers)
    if choice == 6:
        return [None, (), b"", 10**400][provider.ConsumeIntInRange(0, 3)]
    if choice in (7, 8):
        return provider.ConsumeIntInRange(0, 5)
    if choice in (9, 10, 11):
        items = []
        containers.append(items)
        for _ in range(provider.ConsumeIntInRange(0, 6)):
            items.append(build(provider, depth + 1, containers))
        return items
    members = {}
    containers.append(members)
    for _ in range(provider.ConsumeIntInRange(0, 6)):
        key = provider.ConsumeUnicode(4) if provider.ConsumeIntInRange(0, 15) else provider.ConsumeIntInRange(0, 3)
        members[key] = build(provider, depth + 1, containers)
    return members


ACCEPTED_FAILURES = (TypeError, ValueError, RecursionError, UnicodeEncodeError, Planted, vesk.InternalFault)


def outcome(call, value):
    try:
        return call(value)
    except (TypeError, ValueError, RecursionError) as error:
        return type(error), str(error)


def check(data):
    provider = atheris.FuzzedDataProvider(data)
    Hostile.made = 0
    value = build(provider, 0, [])
    if Hostile.made == 0:
        expected = outcome(emit_model, value)
        if outcome(vesk.emit, value) != expected:
            raise AssertionError(f"emit differs from the model of its rules, which gives {expected!r:.200}")
    try:
        container = vesk.emit(value)
    except ACCEPTED_FAILURES:
        return
    loaded = vesk.loads(container)  # what is written reads back
    if not reference.same(loaded, reference.decode(container)):
        raise AssertionError("loads and the reference reader differ on what emit wrote")


def main():
    atheris.Setup(sys.argv, check)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
