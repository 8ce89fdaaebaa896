// Exported version of the laboratory library, fixed when it is built.
#include "interface/lab_guard.h"

#ifndef QUORVEX_VERSION_MAJOR
#error "QUORVEX_VERSION_MAJOR, _MINOR and _PATCH come from the build (CMakeLists.txt)"
#endif

extern "C" {

QVXL_API void QVXL_CALL QVXL_VERSION(int* MAJOR, int* MINOR, int* PATCH, int* ISTAT) {
  quorvex::lab::guarded(ISTAT, [&] {
    *MAJOR = QUORVEX_VERSION_MAJOR;
    *MINOR = QUORVEX_VERSION_MINOR;
    *PATCH = QUORVEX_VERSION_PATCH;
    return QVXL_OK;
  });
}

}  // extern "C"
