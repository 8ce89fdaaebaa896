// Allocation failure on demand, for the tests of the storage paths.  The test
// program's global operator new (tests/test_ols.cpp) consults both, for the
// allocations of the calling thread only.
#pragma once

#include <cstddef>

namespace quorvex_test {

// The n-th allocation from now throws std::bad_alloc (0: the next one);
// negative: none.  Counts down as allocations are made.
extern thread_local long g_fail_countdown;
// Every allocation of more than this many bytes throws std::bad_alloc.
extern thread_local std::size_t g_fail_above;

// Allocation log of the calling thread: every allocation increments
// g_alloc_count and, while fewer than kAllocLogSize have been logged, records
// its size (reset both to start a log).
inline constexpr long kAllocLogSize = 256;
extern thread_local long g_alloc_count;
extern thread_local std::size_t g_alloc_sizes[kAllocLogSize];

}  // namespace quorvex_test
