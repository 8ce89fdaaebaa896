#pragma once

namespace quorvex {

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
// vers is set on every call.
void BALSQ(int nb, int ncd, int ncb, int nblk, int m, const int* idx, const double* jd,
           const double* jb, int nrhs, double* xs, const double* b, double* r11, double* r12,
           double* r22, double* qb1, double* qb2, double& vers, int& info);

// The factorization sweep of BALSQ (factor arrays cleared by the caller).
// info: 0; -1/-2/-3 nb/ncd/ncb < 0; -4 m < 0; -5 nrhs < 0; -12 bad
// structure; c: update of block c failed (nb + 1 for the border rows).
void BAQR(int nb, int ncd, int ncb, int m, int nrhs, double* r11, double* r12, double* r22,
          double* qb1, double* qb2, int nblk, const int* idx, const double* jd, const double* jb,
          const double* b, int& info);

}  // namespace quorvex
