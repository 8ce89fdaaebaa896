#pragma once

namespace quorvex {

// Product with a block-angular matrix A (m rows; nb column blocks of ncd
// columns, then ncb border columns; row groups idx(nblk, 2): block number and
// row count; jd(m, ncd) block entries, jb(m, ncb) border entries).
//   trans 'N'/'n': yv(m, nrhs) = A xv;  'T'/'t': xv(nb*ncd+ncb, nrhs) = A' yv.
//   info 0, or -1 for any other letter (nothing written).
void BAPROD(char trans, int nb, int ncd, int ncb, int nblk, int m, int nrhs, const int* idx,
            const double* jd, const double* jb, double* xv, double* yv, int& info);

}  // namespace quorvex
