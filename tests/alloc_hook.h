// Allocation failure on demand, for the tests of the storage paths.  The test
// program's global operator new (tests/test_ols.cpp) consults both, for the
// allocations of the calling thread only.
#pragma once

#include <cstddef>
#include <thread>
#include <utility>

namespace quorvex_test {

// The n-th allocation from now throws std::bad_alloc (0: the next one);
// negative: none.  Counts down as allocations are made.
extern thread_local long g_fail_countdown;
// Every allocation of more than this many bytes throws std::bad_alloc.
extern thread_local std::size_t g_fail_above;
// When set, the countdown's failure is a std::length_error instead, as a
// vector throws for a size beyond what the address space can hold.
extern thread_local bool g_fail_as_length_error;

// Allocation log of the calling thread: every allocation increments
// alloc_count() and, while fewer than kAllocLogSize have been logged, records
// its size in alloc_sizes() (set the count to 0 to start a log).  Reached
// through functions of the defining file, so that no other file touches the
// thread-local variables directly.
inline constexpr long kAllocLogSize = 256;
long& alloc_count();
const std::size_t* alloc_sizes();

// Runs f on a new thread and waits for it.  A new thread holds no kept fit
// workspace, so a fit run there obtains every array it needs afresh: the way
// to reach (and fail) each of its allocations.
template <class F>
void on_fresh_thread(F&& f) {
  std::thread t(std::forward<F>(f));
  t.join();
}

}  // namespace quorvex_test
