// Decoding of a fuzzer's bytes into the arguments of an entry point, and the
// checks every target makes after its call.
//
// The bytes are read from the front; once they run out every further read
// gives 0.  Each value starts with a tag byte:
//   count(lo, hi, extremes): tag < 240 gives lo + tag mod (hi - lo + 1), or
//     for a range wider than 240 lo + (256 tag + next byte) mod (hi - lo + 1);
//     the tags 240 .. 255 give the counts of kExtremes when `extremes` is set
//     (the target takes them only where the library must not act on them),
//     and lo + (tag - 240) mod (hi - lo + 1) otherwise.
//   real(): tags 0 .. 15 the special values of kSpecials (NaN, infinities,
//     signed zeros, subnormals, the largest and smallest normal numbers,
//     1e200), 16 .. 127 the small values (tag - 72) / 8, 128 .. 255 the next
//     eight bytes as the bits of a double (little-endian).
//   unit(): two bytes as a fraction in [0, 1].
// tests/fuzz/make_inputs.py writes inputs in this form.
//
// Arrays are obtained with exactly the size the arguments claim (a zero-size
// allocation for a count of 0 or less), so that AddressSanitizer reports any
// element read or written beyond them.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace quorvex_fuzz {

inline constexpr int kExtremes[16] = {INT_MIN, INT_MIN + 1, -1000000, -2, -1, 0, 1, 10,
                                      11, 12, 1000, 46341, 1 << 20, 1 << 30, INT_MAX - 1,
                                      INT_MAX};

inline constexpr double kSpecials[16] = {0.0,
                                         -0.0,
                                         1.0,
                                         -1.0,
                                         std::numeric_limits<double>::quiet_NaN(),
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity(),
                                         std::numeric_limits<double>::denorm_min(),
                                         -std::numeric_limits<double>::denorm_min(),
                                         std::numeric_limits<double>::min(),
                                         std::numeric_limits<double>::max(),
                                         -std::numeric_limits<double>::max(),
                                         1e200,
                                         -1e200,
                                         0.5,
                                         1e-300};

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

  std::uint8_t byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }

  int count(int lo, int hi, bool extremes = false) {
    const unsigned tag = byte();
    const unsigned range = static_cast<unsigned>(hi - lo) + 1;
    if (tag >= 240) {
      return extremes ? kExtremes[tag - 240] : lo + static_cast<int>((tag - 240) % range);
    }
    if (range <= 240) return lo + static_cast<int>(tag % range);
    return lo + static_cast<int>((tag * 256 + byte()) % range);
  }

  double real() {
    const unsigned tag = byte();
    if (tag < 16) return kSpecials[tag];
    if (tag < 128) return (static_cast<double>(tag) - 72.0) / 8.0;
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits |= static_cast<std::uint64_t>(byte()) << (8 * k);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  double unit() {
    const unsigned hi = byte(), lo = byte();
    return static_cast<double>(hi * 256 + lo) / 65535.0;
  }

  bool empty() const { return n_ == 0; }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

// An array of exactly n elements (n <= 0: a zero-size allocation, not null).
template <class T>
class Array {
 public:
  explicit Array(long long n, T fill = T())
      : n_(n > 0 ? static_cast<std::size_t>(n) : 0), p_(new T[n_]) {
    for (std::size_t k = 0; k < n_; ++k) p_[k] = fill;
  }
  T* data() { return p_.get(); }
  const T* data() const { return p_.get(); }
  std::size_t size() const { return n_; }
  T& operator[](std::size_t k) { return p_[k]; }
  const T& operator[](std::size_t k) const { return p_[k]; }
  // Bitwise equality: NaNs compare by their bits.
  bool same_bits(const Array& o) const {
    return n_ == o.n_ && (n_ == 0 || std::memcmp(p_.get(), o.p_.get(), n_ * sizeof(T)) == 0);
  }
  Array copy() const {
    Array c(static_cast<long long>(n_));
    for (std::size_t k = 0; k < n_; ++k) c.p_[k] = p_[k];
    return c;
  }

 private:
  std::size_t n_;
  std::unique_ptr<T[]> p_;
};

// A finding: print it and stop, as a sanitizer report does.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "quorvex fuzz: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

// True when every element lies in the set of integers given.
template <std::size_t N>
bool one_of(int v, const int (&set)[N]) {
  for (int s : set)
    if (v == s) return true;
  return false;
}

// Calibration points for the two fits.  The first byte chooses: below 32
// every value is decoded as it comes (interval, then X, Y, WX, WY point by
// point); otherwise the points lie spread over an interval on a polynomial
// with noise and weights of a decoded size, and up to three single values
// are then replaced by decoded ones, so that the fits reach their
// iterations and their ends.
inline void decode_points(FuzzInput& in, long long npts, double& xmin, double& xmax, double* x,
                          double* y, double* wx, double* wy) {
  const std::size_t n = npts > 0 ? static_cast<std::size_t>(npts) : 0;
  if (in.byte() < 32) {
    xmin = in.real();
    xmax = in.real();
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = in.real();
      y[i] = in.real();
      wx[i] = in.real();
      wy[i] = in.real();
    }
    return;
  }
  xmin = in.count(-20, 20);
  const double width = in.byte() < 16 ? in.real() : 0.25 + 20.0 * in.unit();
  xmax = xmin + width;
  const int degree = in.count(0, 6);
  double c[7] = {};
  for (int k = 0; k <= degree; ++k) c[k] = in.count(-8, 8) / 4.0;
  const double noise = 0.2 * in.unit(), yscale = in.byte() < 16 ? in.real() : 1.0;
  double ux = 1.0, uy = 1.0;
  for (int k = in.count(0, 8); k > 0; --k) ux /= 10.0;
  for (int k = in.count(0, 8); k > 0; --k) uy /= 10.0;
  const bool ends = in.byte() < 32;  // the first and last point at the interval's ends
  for (std::size_t i = 0; i < n; ++i) {
    const double t = (static_cast<double>(i) + 0.5) / static_cast<double>(n);
    double xi = xmin + width * t + width * 0.3 / static_cast<double>(n) * (in.unit() - 0.5);
    if (ends && i == 0) xi = xmin;
    if (ends && i + 1 == n) xi = xmax;
    const double s = 2.0 * t - 1.0;
    double p = 0.0;
    for (int k = degree; k >= 0; --k) p = p * s + c[k];
    x[i] = xi;
    y[i] = yscale * (p + noise * (in.unit() - 0.5));
    wx[i] = 1.0 / (ux * width * (0.5 + in.unit()));
    wy[i] = 1.0 / (uy * (0.5 + in.unit()));
  }
  for (int k = in.count(0, 3); k > 0 && n > 0; --k) {
    const std::size_t i = static_cast<std::size_t>(in.count(0, 255)) % n;
    double* target[4] = {x, y, wx, wy};
    target[in.byte() % 4][i] = in.real();
  }
}

}  // namespace quorvex_fuzz
