// Constants of IEEE binary64 by index, as the numerical routines ask for them:
//   1  2^-1022, the smallest positive normalised magnitude
//   2  (2 - 2^-52) 2^1023, the largest finite magnitude
//   3  2^-53, the smallest relative spacing
//   4  2^-52, the largest relative spacing (machine epsilon)
//   5  log10(2)
#include "numeric/d1mach.h"

#include <cstdio>
#include <limits>

namespace quorvex {

namespace {

constexpr double kTable[5] = {
    0x1p-1022,                 // 2.2250738585072014e-308
    0x1.fffffffffffffp+1023,   // 1.7976931348623157e+308
    0x1p-53,                   // 1.1102230246251565e-16
    0x1p-52,                   // 2.220446049250313e-16
    0x1.34413509f79ffp-2,      // 0.3010299956639812
};

static_assert(kTable[0] == std::numeric_limits<double>::min());
static_assert(kTable[1] == std::numeric_limits<double>::max());
static_assert(kTable[3] == std::numeric_limits<double>::epsilon());

}  // namespace

double D1MACH(int i) {
  if (i < 1 || i > 5) {
    // A programming error inside the library; the host process goes on and
    // receives a value that poisons whatever it enters.
    std::printf(" D1MACH(I): I =%11d is out of bounds.\n", i);
    std::fflush(stdout);
    return std::numeric_limits<double>::quiet_NaN();
  }
  return kTable[i - 1];
}

}  // namespace quorvex
