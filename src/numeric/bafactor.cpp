// Block-angular factor: row-group update and block back substitution.
#include "numeric/bafactor.h"

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

#include "numeric/blas_kernels.h"
#include "numeric/colmajor.h"
#include "numeric/lapack.h"
#include "numeric/trpack.h"

namespace quorvex {

void BAQRUPD(int kb, int nb, int ncd, int ncb, int m, int nrhs, double* r11, double* r12,
             double* r22, double* qb1, double* qb2, const double* jd, std::ptrdiff_t ldjd,
             const double* jb, std::ptrdiff_t ldjb, const double* rhs, std::ptrdiff_t ldrhs,
             int& info, TrqrWork& ws) {
  if (kb < 0 || kb > nb) { info = -1; return; }
  if (nb < 0) { info = -2; return; }
  if (ncd < 0) { info = -3; return; }
  if (ncb < 0) { info = -4; return; }
  if (m < 0) { info = -5; return; }
  if (nrhs < 0) { info = -6; return; }
  if (m == 0) { info = 0; return; }
  if (kb > 0 && ldjd < m) { info = -12; return; }
  if (ldjb < m) { info = -14; return; }
  if (ldrhs < m) { info = -16; return; }

  ws.reserve(ncd + ncb, m, nrhs);

  // The dense part the rows touch: [R_kb S_kb; 0 R0] (order n = ncd + ncb),
  // or R0 alone for border rows.  It is stacked under the new rows in the
  // sweep's array directly, with its right-hand sides beside it, and copied
  // back afterwards: no arithmetic is done on the way in or out.
  const std::size_t nd = kb > 0 ? count(ncd) : 0;  // block columns taking part
  const std::size_t ne = count(ncb), nr = count(nrhs), mm = count(m), nbn = count(nb);
  const std::size_t n = nd + ne, ldw = mm + n;
  const std::size_t nbd = nbn * count(ncd);  // leading dimension of r12, qb1
  const std::size_t kr = kb > 0 ? static_cast<std::size_t>(kb - 1) : 0;  // row of r11
  const std::size_t kq = kr * nd;                                        // first row of S_kb
  double* w = ws.w.data();

  // New rows [JD JB | RHS] on top, row by row (few rows, short columns).
  for (std::size_t i = 0; i < mm; ++i) {
    double* wi = w + i;
    for (std::size_t j = 0; j < nd; ++j) wi[j * ldw] = jd[i + j * ldjd];
    for (std::size_t j = 0; j < ne; ++j) wi[(nd + j) * ldw] = jb[i + j * ldjb];
    for (std::size_t j = 0; j < nr; ++j) wi[(n + j) * ldw] = rhs[i + j * ldrhs];
  }
  // Old factor below, upper triangle only (the sweep never reads below it).
  for (std::size_t i = 0; i < nd; ++i) {
    double* wi = w + mm + i;
    for (std::size_t j = i; j < nd; ++j) wi[j * ldw] = r11[kr + packed_index(nd, i, j) * nbn];
    for (std::size_t j = 0; j < ne; ++j) wi[(nd + j) * ldw] = r12[kq + i + j * nbd];
    for (std::size_t j = 0; j < nr; ++j) wi[(n + j) * ldw] = qb1[kq + i + j * nbd];
  }
  for (std::size_t i = 0; i < ne; ++i) {
    double* wi = w + mm + nd + i;
    for (std::size_t j = i; j < ne; ++j) wi[(nd + j) * ldw] = r22[packed_index(ne, i, j)];
    for (std::size_t j = 0; j < nr; ++j) wi[(n + j) * ldw] = qb2[i + j * ne];
  }

  TRQRSWEEP(static_cast<int>(n), m, nrhs, w, static_cast<std::ptrdiff_t>(ldw), ws);

  // Scatter the first n rows back.
  for (std::size_t i = 0; i < nd; ++i) {
    const double* wi = w + i;
    for (std::size_t j = i; j < nd; ++j) r11[kr + packed_index(nd, i, j) * nbn] = wi[j * ldw];
    for (std::size_t j = 0; j < ne; ++j) r12[kq + i + j * nbd] = wi[(nd + j) * ldw];
    for (std::size_t j = 0; j < nr; ++j) qb1[kq + i + j * nbd] = wi[(n + j) * ldw];
  }
  for (std::size_t i = 0; i < ne; ++i) {
    const double* wi = w + nd + i;
    for (std::size_t j = i; j < ne; ++j) r22[packed_index(ne, i, j)] = wi[(nd + j) * ldw];
    for (std::size_t j = 0; j < nr; ++j) qb2[i + j * ne] = wi[(n + j) * ldw];
  }
  info = 0;
}

namespace {

// Border columns up to which BASOLVE's one-column path holds z0 locally.
constexpr std::size_t kLocalBorder = 16;

// Packed triangular solve in place, op(R) x = b with R = L' held as L packed:
// trans_r 'T' solves with R, 'N' with R'.
int tpsolve(char trans_r, int n, int nrhs, const double* ap, double* b, std::ptrdiff_t ldb) {
  const char uplo = 'L', diag = 'N';
  const int ld = static_cast<int>(std::max<std::ptrdiff_t>(ldb, 1));
  int info = 0;
  dtptrs_(&uplo, &trans_r, &diag, &n, &nrhs, ap, b, &ld, &info, 1, 1, 1);
  return info;
}

// The same for one block's triangle (ncd rows, one per point in the
// generalized fit): the reference solve's arithmetic inline, without the
// library call and its argument checks (the arguments are valid here).
int block_solve(char trans_r, int n, int nrhs, const double* ap, double* b, std::ptrdiff_t ldb) {
  return kernel::tptrs_lower(trans_r, count(n), count(nrhs), ap, b, ldb);
}

}  // namespace

void BASOLVE(char trans, int nb, int ncd, int ncb, const double* r11, const double* r12,
             const double* r22, int nrhs, int nbr, const int* iblk, double* sol,
             const double* rhs, int& info) {
  if (trans != 'n' && trans != 't') { info = -1; return; }
  if (nb < 0) { info = -2; return; }
  if (ncd < 0) { info = -3; return; }
  if (ncb < 0) { info = -4; return; }
  if (nrhs < 0) { info = -8; return; }
  const long long ntot = static_cast<long long>(nbr) * ncd + ncb;
  if (nbr < 0 || nbr > nb || ntot + 2 > INT_MAX) { info = -9; return; }
  for (int i = 0; i < nbr; ++i) {
    if (iblk[i] < 1 || iblk[i] > nb) { info = -10; return; }
  }

  const std::size_t nd = count(ncd), ne = count(ncb), nr = count(nrhs);
  const std::size_t nbd = count(nb) * nd;  // leading dimension of r12
  const std::ptrdiff_t ld = static_cast<std::ptrdiff_t>(ntot);
  const std::size_t nbrd = count(nbr) * nd;  // first border row of sol, rhs
  const int base = static_cast<int>(nbrd);
  const ColMajor<double> x(sol, ld);
  const ColMajor<const double> b(rhs, ld);
  // One block's packed triangle; a block of one column is its own, so the
  // copy is needed (and obtained) only for wider blocks.
  std::vector<double> rp(nd > 1 ? packed_size(nd) : 0);

  // The packed triangle of block c + 1 (row c of r11).
  auto block = [&](std::size_t c) -> const double* {
    if (nd == 1) return r11 + c;
    for (std::size_t k = 0; k < rp.size(); ++k) rp[k] = r11[c + k * count(nb)];
    return rp.data();
  };

  if (trans == 'n') {
    // Border first: R0 z0 = b0.
    for (std::size_t j = 0; j < nr; ++j)
      std::copy(b.col(j) + nbrd, b.col(j) + nbrd + ne, x.col(j) + nbrd);
    int s = tpsolve('T', ncb, nrhs, r22, sol + nbrd, ld);
    if (s != 0) { info = s > 0 ? base + s : base + ncb + 1; return; }
    if (nd == 1 && nr == 1 && ne <= kLocalBorder) {
      // The generalized fit's shape, one column per block and one right-hand
      // side: the loop below with its block solve written out (the reference
      // solve of one element is one division) and z0 held locally, so that
      // the writes to sol do not make every group read it again.
      std::array<double, kLocalBorder> z0{};
      std::copy(sol + nbrd, sol + nbrd + ne, z0.begin());
      for (std::size_t i = 0; i < count(nbr); ++i) {
        const std::size_t c = static_cast<std::size_t>(iblk[i] - 1);
        double t = 0.0;
        for (std::size_t k = 0; k < ne; ++k) t += r12[c + k * nbd] * z0[k];
        const double v = rhs[i] - t;
        sol[i] = v;
        if (r11[c] == 0.0) {
          info = static_cast<int>(i) + 1;
          return;
        }
        sol[i] = v / r11[c];
      }
      info = 0;
      return;
    }
    // Each group: R_c z_i = b_i - S_c z0.
    for (std::size_t i = 0; i < count(nbr); ++i) {
      const std::size_t c = static_cast<std::size_t>(iblk[i] - 1), row = i * nd;
      // S_c(l, j) = r12[sc + l + j * nbd].  Offsets rather than pointers:
      // without border or block columns r12 and r11 may be empty.
      const std::size_t sc = c * nd;
      for (std::size_t j = 0; j < nr; ++j) {
        const double* z0 = x.col(j) + nbrd;
        for (std::size_t l = 0; l < nd; ++l) {
          double t = 0.0;
          for (std::size_t k = 0; k < ne; ++k) t += r12[sc + l + k * nbd] * z0[k];
          x(row + l, j) = b(row + l, j) - t;
        }
      }
      s = block_solve('T', ncd, nrhs, block(c), sol + row, ld);
      if (s != 0) {
        info = s > 0 ? static_cast<int>(row) + s : base + ncb + 2;
        return;
      }
    }
  } else {
    // Groups first: R_c' z_i = b_i, then w = b0 - sum of S_c' z_i.
    std::vector<double> w(ne * nr);
    for (std::size_t j = 0; j < nr; ++j)
      std::copy(b.col(j) + nbrd, b.col(j) + nbrd + ne, w.data() + j * ne);
    for (std::size_t i = 0; i < count(nbr); ++i) {
      const std::size_t c = static_cast<std::size_t>(iblk[i] - 1), row = i * nd;
      for (std::size_t j = 0; j < nr; ++j)
        std::copy(b.col(j) + row, b.col(j) + row + nd, x.col(j) + row);
      const int s = block_solve('N', ncd, nrhs, block(c), sol + row, ld);
      if (s != 0) {
        info = s > 0 ? static_cast<int>(row) + s : base + ncb + 2;
        return;
      }
      const std::size_t sc = c * nd;
      for (std::size_t j = 0; j < nr; ++j) {
        const double* z = x.col(j) + row;
        for (std::size_t l = 0; l < ne; ++l) {
          double t = 0.0;
          for (std::size_t k = 0; k < nd; ++k) t += r12[sc + k + l * nbd] * z[k];
          w[l + j * ne] = w[l + j * ne] - t;
        }
      }
    }
    // Border: R0' z0 = w.
    for (std::size_t j = 0; j < nr; ++j)
      std::copy(w.data() + j * ne, w.data() + (j + 1) * ne, x.col(j) + nbrd);
    const int s = tpsolve('N', ncb, nrhs, r22, sol + nbrd, ld);
    if (s != 0) { info = s > 0 ? base + s : base + ncb + 1; return; }
  }
  info = 0;
}

}  // namespace quorvex
