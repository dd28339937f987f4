#pragma once

#include <Python.h>

#include "format/format_limits.hpp"

namespace vesk::python {

// Levels of nesting open on this thread, summed over every emit running on
// it: a conversion may run Python code (__index__, __float__) that calls emit
// again, and that call stacks its levels on the same native stack, so all of
// them share the one budget of kMaxEmitNesting. The count belongs to the OS
// thread, as the stack it guards does, rather than to a thread state of one
// interpreter; it is back to 0 whenever no emit runs on the thread, so no
// call sees anything of another but the levels of those it runs inside.
unsigned& open_nesting_levels() noexcept;

// Raises RecursionError for a value nested past the budget; returns false.
[[gnu::noinline, gnu::cold]] inline bool too_deep() noexcept {
    PyErr_Format(PyExc_RecursionError, "maximum nesting depth exceeded: more than %u lists and dicts",
                 format::kMaxEmitNesting);
    return false;
}


// One level of the budget, held from a container's start to its end and given
// back on every way out, exceptions included. The count is reached through a
// reference taken once per call, which is cheaper than naming the
// thread-local variable at every container.
class Level {
public:
    [[gnu::always_inline]] explicit Level(unsigned& levels) : levels_(levels) {
        if (levels_ >= format::kMaxEmitNesting) {
            too_deep();
            return;
        }
        ++levels_;
        entered_ = true;
    }
    [[gnu::always_inline]] ~Level() {
        if (entered_) --levels_;
    }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;
    [[gnu::always_inline]] explicit operator bool() const { return entered_; }

private:
    unsigned& levels_;
    bool entered_ = false;
};

}  // namespace vesk::python
