// Test helper: the built shared library, loaded with dlopen as a host
// program loads it, and its entry points looked up by their exported names.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <type_traits>

#include "quorvex.h"

namespace quorvex_test {

class HostLibrary {
 public:
  explicit HostLibrary(const char* path = QUORVEX_SHARED_LIBRARY)
      : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
  ~HostLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }

  // The exported function `name`, with the type of the declaration `decl`.
  template <class F>
  F* get(const char* name, F* /*decl*/) const {
    return reinterpret_cast<F*>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

// Looks an entry point up under its own name with the header's prototype.
#define QVX_HOST_FN(lib, name) (lib).get(#name, &::name)

}  // namespace quorvex_test
