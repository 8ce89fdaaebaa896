// Column-major views and index arithmetic shared by the whole library.
//
// The interface counts array elements from 1; inside the library every index
// is 0-based and every size or offset is computed in std::size_t or
// std::ptrdiff_t, so that no product of two 32-bit counts can overflow.
#pragma once

#include <cstddef>

namespace quorvex {

// A non-negative element count from a 32-bit argument (negative counts
// count as 0).
inline std::size_t count(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

// View of a column-major matrix with leading dimension ld; no copy is made.
template <class T>
class ColMajor {
 public:
  ColMajor(T* p, std::ptrdiff_t ld) : p_(p), ld_(ld) {}
  T& operator()(std::ptrdiff_t i, std::ptrdiff_t j) const { return p_[j * ld_ + i]; }  // 0-based
  T* col(std::ptrdiff_t j) const { return p_ + j * ld_; }
  T* data() const { return p_; }
  std::ptrdiff_t ld() const { return ld_; }

 private:
  T* p_;
  std::ptrdiff_t ld_;
};

// g' C g for a symmetric n x n matrix C (column-major, leading dimension
// n): the variance of p(x) = g' c when C is the covariance of c.  Row by
// row, in this order, wherever the library forms it.
inline double quad_form(std::size_t n, const double* c, const double* g) {
  ColMajor<const double> cv(c, static_cast<std::ptrdiff_t>(n));
  double v = 0.0;
  for (std::size_t l = 0; l < n; ++l) {
    double w = 0.0;
    for (std::size_t m = 0; m < n; ++m) w += cv(l, m) * g[m];
    v += g[l] * w;
  }
  return v;
}

}  // namespace quorvex
