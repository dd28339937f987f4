#pragma once

#include <atomic>
#include <memory>
#include <utility>

namespace vesk::python {

// One object kept in module state from one call to the next, so that a
// stream of short calls makes its tables once: lent to one call at a time,
// taken with an atomic exchange. A call that finds it lent (another thread,
// or a call that Python code run by this one makes) gets a fresh object, and
// whichever object comes back last is kept. T::prepare_for_reuse() empties
// an object coming back and gives back whatever memory it holds beyond what
// is worth keeping. Loans begin and end with the interpreter lock held: T
// may own Python objects.
template <class T>
class ReusedObject {
public:
    ReusedObject() noexcept = default;
    ~ReusedObject() { drop(); }
    ReusedObject(const ReusedObject&) = delete;
    ReusedObject& operator=(const ReusedObject&) = delete;

    class Loan {
    public:
        Loan(const Loan&) = delete;
        Loan& operator=(const Loan&) = delete;
        ~Loan() { home_.give_back(std::move(object_)); }
        T& operator*() const noexcept { return *object_; }
        T* operator->() const noexcept { return object_.get(); }

    private:
        friend class ReusedObject;
        Loan(ReusedObject& home, std::unique_ptr<T> object) noexcept : home_(home), object_(std::move(object)) {}

        ReusedObject& home_;
        std::unique_ptr<T> object_;
    };

    // The kept object, or a new one. May throw std::bad_alloc.
    Loan borrow() {
        std::unique_ptr<T> kept(kept_.exchange(nullptr, std::memory_order_acquire));
        if (!kept) kept = std::make_unique<T>();
        return Loan(*this, std::move(kept));
    }

    // Lets the kept object go, with what it holds.
    void drop() noexcept { delete kept_.exchange(nullptr, std::memory_order_acquire); }

private:
    void give_back(std::unique_ptr<T> object) noexcept {
        object->prepare_for_reuse();
        delete kept_.exchange(object.release(), std::memory_order_acq_rel);
    }

    std::atomic<T*> kept_{nullptr};
};

}  // namespace vesk::python
