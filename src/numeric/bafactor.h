// Triangular factor of a block-angular matrix and its two operations.
//
// A block-angular matrix (nb column blocks of ncd columns, then ncb border
// columns; each row touches one block plus the border) has an R factor of
// the same shape:
//
//        block 1  block 2  ...  block nb | border
//      [   R_1      0      ...     0     |  S_1  ]   ncd rows each
//      [    0      R_2     ...     0     |  S_2  ]
//      [                   ...           |       ]
//      [    0       0      ...   R_nb    |  S_nb ]
//      [    0       0      ...     0     |  R0   ]   ncb rows
//
// Storage (column-major):
//   r11 (nb, ncd(ncd+1)/2): row j is R_j packed (elements nb apart);
//   r12 (nb*ncd, ncb):      rows (j-1)ncd+1 .. j ncd hold S_j;
//   r22 (ncb(ncb+1)/2):     R0 packed;
//   qb1 (nb*ncd, nrhs), qb2 (ncb, nrhs): Q'b split the same way.
// A row group touching block j changes only R_j, S_j, R0 and their
// right-hand sides, so a group costs one update of order ncd + ncb.
#pragma once

#include <cstddef>

#include "numeric/trqrupd.h"

namespace quorvex {

// Folds m rows into the factor: their entries jd (m x ncd, leading dimension
// ldjd; not read when kb = 0) in block kb, jb (m x ncb, ldjb) in the border,
// and right-hand sides rhs (m x nrhs, ldrhs).  kb = 0: border-only rows,
// which change R0 and qb2 alone.
// info: 0 (also for m = 0, nothing changed); -1 kb < 0 or kb > nb; -2 nb < 0;
// -3 ncd < 0; -4 ncb < 0; -5 m < 0; -6 nrhs < 0; -12/-14/-16 a leading
// dimension below m (for m > 0).  ws is grown as needed, so one TrqrWork
// reserved for (ncd + ncb, largest m, nrhs) serves a whole sweep.
void BAQRUPD(int kb, int nb, int ncd, int ncb, int m, int nrhs, double* r11, double* r12,
             double* r22, double* qb1, double* qb2, const double* jd, std::ptrdiff_t ldjd,
             const double* jb, std::ptrdiff_t ldjb, const double* rhs, std::ptrdiff_t ldrhs,
             int& info, TrqrWork& ws);

// Block back substitution with the factor: trans 'n' solves R sol = rhs,
// 't' solves R' sol = rhs.  The right-hand side has nbr row groups of ncd rows
// (group i belongs to column block iblk(i)) and the ncb border rows last;
// sol and rhs have leading dimension nbr*ncd + ncb; rhs is not modified.
// With trans 'n', sol may be rhs itself: every element of rhs is read before
// its own place in sol is written, and no other place after it.
// info: 0; -1 trans not 'n'/'t'; -2 nb < 0; -3 ncd < 0; -4 ncb < 0;
// -8 nrhs < 0; -9 nbr < 0, nbr > nb (or nbr*ncd + ncb + 2 beyond int);
// -10 an iblk(i) outside 1..nb;
// (i-1)*ncd + k: zero k-th diagonal element of the block used by group i;
// nbr*ncd + k: zero k-th diagonal element of R0;
// nbr*ncd + ncb + 1 / + 2: the border / a block triangular solve rejected its
// arguments.  The first failing solve stops the routine, sol partly written.
void BASOLVE(char trans, int nb, int ncd, int ncb, const double* r11, const double* r12,
             const double* r22, int nrhs, int nbr, const int* iblk, double* sol,
             const double* rhs, int& info);

}  // namespace quorvex
