#pragma once

#include <Python.h>

#include <cstddef>

namespace vesk::python {

// Handing the lock over and back costs well under a microsecond when no
// other thread wants it, about what reading a few kilobytes does; when one
// does, it gets to run instead of waiting for the whole call. Work on fewer
// bytes than this (of text or container) is too short to bother, and a
// stream of short calls would pay it for nothing.
inline constexpr std::size_t kReleaseLockFrom = 32 * 1024;

// Lets other threads run Python while this one works on plain C++ data: the
// interpreter lock is released on construction, when `release` holds, and
// taken back on destruction, also when an exception leaves the scope, so
// that whatever handles it holds the lock again. Nothing inside may touch a
// Python object.
class ReleasedGil {
public:
    explicit ReleasedGil(bool release) noexcept : state_(release ? PyEval_SaveThread() : nullptr) {}
    ReleasedGil(const ReleasedGil&) = delete;
    ReleasedGil& operator=(const ReleasedGil&) = delete;
    ~ReleasedGil() {
        if (state_ != nullptr) PyEval_RestoreThread(state_);
    }

private:
    PyThreadState* state_;
};

}  // namespace vesk::python
