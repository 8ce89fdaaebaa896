// LAPACK's parameter-error handler.  The reference LAPACK routines are
// linked into the library itself (the Linux library and the Windows DLLs
// alike), and the reference handler prints a message and stops the process:
// a library must never end its host.  This one returns at once, so the
// routine that found the bad argument returns with its negative INFO, which
// the library's caller of that routine maps to a status.  The entry points'
// own checks keep valid calls away from it.
#include <cstddef>

// gfortran's ABI: the routine name (not NUL-terminated), the position of the
// bad argument, and the hidden length of the name.
extern "C" void xerbla_(const char* /*srname*/, const int* /*info*/, std::size_t /*srname_len*/) {}
