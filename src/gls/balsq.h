#pragma once

#include <cstddef>
#include <vector>

#include "numeric/trqrupd.h"

namespace quorvex {

// Scratch of BALSQ and BAQR, grown as needed and kept by the caller, so that
// repeated solves of one shape (the iterations of a fit) allocate nothing.
struct BalsqWork {
  std::vector<std::ptrdiff_t> start, first, rows, next;  // group bucketing
  std::vector<std::size_t> order;
  std::vector<double> td, tb, tc;  // gathered rows of a non-contiguous block
  std::vector<double> t, a;        // sweep of the two-row, one-column blocks
  std::vector<int> iblk;           // iblk(c) = c + 1
  TrqrWork ws;
};

// Version stamp written by BALSQ.
inline constexpr double kBalsqVersion = 20021203.111;

// Least squares min ||A xs - b|| for a block-angular A (format of BAPROD;
// here idx(k, 1) = 0 marks border-only rows).  Leaves the factor in r11
// (nb x ncd(ncd+1)/2), r12 (nb*ncd x ncb), r22 (packed ncb triangle) and
// Q'b in qb1 (nb*ncd x nrhs), qb2 (ncb x nrhs).
// info: 0; -1/-2/-3 nb/ncd/ncb < 0 (or nb*ncd+ncb+2 beyond int: -1);
// -6 bad structure: a block number outside 0..nb, a negative row count or
// rows not adding up to m (nothing cleared); nb*ncd+ncb+1 factorization
// failed; 1..nb*ncd+ncb zero pivot at that row of xs; nb*ncd+ncb+2 other.
// odd_border: jb holds only the odd rows of the border, jb(nb, ncb), its even
// rows being zero; for one-column blocks of two rows each in order (block c
// on rows 2c-1, 2c) only, else info = -6.
// vers is set on every call.  xs also holds the back substitution's
// right-hand side, so after a zero pivot its unsolved rows hold Q'b.
void BALSQ(int nb, int ncd, int ncb, int nblk, int m, const int* idx, const double* jd,
           const double* jb, int nrhs, double* xs, const double* b, double* r11, double* r12,
           double* r22, double* qb1, double* qb2, double& vers, int& info, BalsqWork& work,
           bool odd_border = false);

// The factorization sweep of BALSQ (factor arrays cleared by the caller).
// info: 0; -1/-2/-3 nb/ncd/ncb < 0; -4 m < 0; -5 nrhs < 0; -12 bad
// structure; c: update of block c failed (nb + 1 for the border rows).
void BAQR(int nb, int ncd, int ncb, int m, int nrhs, double* r11, double* r12, double* r22,
          double* qb1, double* qb2, int nblk, const int* idx, const double* jd, const double* jb,
          const double* b, int& info, BalsqWork& work);

}  // namespace quorvex
