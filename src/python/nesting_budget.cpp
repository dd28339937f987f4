#include "python/nesting_budget.hpp"

namespace vesk::python {

namespace {

thread_local unsigned open_levels = 0;

}  // namespace

unsigned& open_nesting_levels() noexcept { return open_levels; }

}  // namespace vesk::python
