// Included before any Boost.Math header.  Boost.Config declares the C
// library's log1p and expm1 usable on Linux (POSIX) but not on Windows, so
// Boost.Math's log1p and expm1 would call glibc's there and compute their own
// series on Windows: a last-bit difference that the quantiles and tails carry
// on.  Boost's own are used everywhere; the Windows DLLs then give the Linux
// library's bits in nearly every case (tests/windows/lab_check.cpp).
#pragma once

#include <boost/config.hpp>

#undef BOOST_HAS_LOG1P
#undef BOOST_HAS_EXPM1
