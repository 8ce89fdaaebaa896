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

template <class F>
void guarded(int* istat, F&& body) noexcept {
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
