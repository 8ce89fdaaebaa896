#pragma once

namespace quorvex {

// Product with a block-angular matrix A (m rows; nb column blocks of ncd
// columns, then ncb border columns; row groups idx(nblk, 2): block number and
// row count; jd(m, ncd) block entries, jb(m, ncb) border entries).
//   trans 'N'/'n': yv(m, nrhs) = A xv;  'T'/'t': xv(nb*ncd+ncb, nrhs) = A' yv.
//   A group with idx(k, 1) = 0 has no block part (border-only rows).
//   info 0, or (nothing written): -1 any other letter; -2/-3/-4 nb/ncd/ncb
//   < 0; -6 m < 0; -7 nrhs < 0; -8 a block number outside 0..nb, a negative
//   row count or more than m rows in the groups.
// odd_border: jb holds only the odd rows of the border, jb(m/2, ncb), its even
// rows being zero (read as 0, so every sum still meets them in order); m odd
// is then refused with info -6.
void BAPROD(char trans, int nb, int ncd, int ncb, int nblk, int m, int nrhs, const int* idx,
            const double* jd, const double* jb, double* xv, double* yv, int& info,
            bool odd_border = false);

}  // namespace quorvex
