// Test helper: the built laboratory library, loaded with dlopen as a host
// loads it; LAB(QVXL_NAME) is its exported QVXL_NAME with the header's type.
#pragma once

#include <dlfcn.h>

#include "quorvex_lab.h"

namespace quorvex_test {

struct LabLibrary {
  void* h = dlopen(QUORVEX_LAB_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  template <class F>
  F* get(const char* name, F* /*decl*/) const {
    return reinterpret_cast<F*>(dlsym(h, name));
  }
};

inline const LabLibrary& lab() {
  static LabLibrary l;
  return l;
}

}  // namespace quorvex_test

#define LAB(name) (*quorvex_test::lab().get(#name, &::name))
