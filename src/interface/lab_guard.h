// The one guard of the laboratory layer's exported functions: no exception
// reaches the host.  Storage that cannot be obtained is QVXL_NO_STORAGE; a
// distribution asked for an impossible value (std::domain_error and the like)
// is QVXL_BAD_VALUE.
#pragma once

#include <new>
#include <stdexcept>

#ifndef QUORVEX_LAB_BUILDING
#define QUORVEX_LAB_BUILDING 1
#endif
#include "quorvex_lab.h"

namespace quorvex::lab {

#if defined(_WIN32)
// On Windows the C library's exp, log, pow, log1p and expm1 (which Boost.Math
// calls) compute in the x87 unit, whose precision the host sets: 53 bits in
// many hosts give results up to tens of ulps from those at 64 bits.  Each
// call therefore runs with the x87 unit at 64-bit precision and the SSE unit
// at its defaults (round to nearest, no flush to zero, exceptions masked),
// and gives the host its own settings back.
class FloatingPointScope {
 public:
  FloatingPointScope() noexcept {
    asm volatile("fnstcw %0" : "=m"(x87_));
    asm volatile("stmxcsr %0" : "=m"(csr_));
    const unsigned short x87 = 0x037F;
    const unsigned csr = 0x1F80;
    asm volatile("fldcw %0" : : "m"(x87));
    asm volatile("ldmxcsr %0" : : "m"(csr));
  }
  ~FloatingPointScope() {
    asm volatile("fnclex");
    asm volatile("fldcw %0" : : "m"(x87_));
    asm volatile("ldmxcsr %0" : : "m"(csr_));
  }
  FloatingPointScope(const FloatingPointScope&) = delete;
  FloatingPointScope& operator=(const FloatingPointScope&) = delete;

 private:
  unsigned short x87_;
  unsigned csr_;
};
#else
struct FloatingPointScope {};
#endif

template <class F>
void guarded(int* istat, F&& body) noexcept {
  [[maybe_unused]] const FloatingPointScope fp{};
  try {
    *istat = body();
  } catch (const std::bad_alloc&) {
    *istat = QVXL_NO_STORAGE;
  } catch (const std::exception&) {
    *istat = QVXL_BAD_VALUE;
  } catch (...) {
    *istat = QVXL_NO_STORAGE;
  }
}

}  // namespace quorvex::lab
