// Least squares min ||A xs - b|| for a block-angular A by a block QR sweep.
//
// The rows are folded into a zero factor block by block: first the rows
// without a block part (into the border triangle R0), then, for c = 1 .. nb,
// all rows of the groups of column block c in the order of the groups.  A
// group costs one update of order ncd + ncb, so the sweep costs
// O(m (ncd + ncb)^2 + nb (ncd + ncb)^3); the groups are bucketed by block once
// (a stable counting sort), never searched per block.  Back substitution
// with the factor then gives xs.
#include "gls/balsq.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "numeric/bafactor.h"
#include "numeric/colmajor.h"
#include "numeric/trpack.h"
#include "numeric/trqrupd.h"

namespace quorvex {

namespace {

// Every group names a block 0..nb and has a row count >= 0; the counts add up
// to m.  (A negative count would move the following groups' rows outside
// the arrays, so it is refused like a wrong block number.)
bool structure_ok(int nb, int nblk, int m, const int* idx) {
  const std::size_t ng = count(nblk);
  long long rows = 0;
  for (std::size_t k = 0; k < ng; ++k) {
    const int c = idx[k], n = idx[ng + k];
    if (c < 0 || c > nb || n < 0) return false;
    rows += n;
  }
  return rows == m;
}

// The generalized fit's shape: group k is block k + 1 with the two rows
// 2k + 1, 2k + 2, blocks of one column, one right-hand side.
bool two_row_blocks(int nb, int ncd, int nblk, int m, int nrhs, const int* idx) {
  if (ncd != 1 || nrhs != 1 || nb < 1 || nblk != nb || 2LL * nb != m) return false;
  const std::size_t n = count(nb);
  for (std::size_t k = 0; k < n; ++k)
    if (idx[k] != static_cast<int>(k) + 1 || idx[n + k] != 2) return false;
  return true;
}

// Blocks per pass of the two-row sweep.
constexpr std::size_t kChunk = 128;

// The sweep of BAQR for two-row blocks: the same reflectors applied to the
// same numbers in the same order as the block-by-block update, but with the
// border triangle R0 kept in place and independent reflectors computed side
// by side.
//
// The update of block c reduces, with R_c, S_c, qb1_c its old row,
//
//        [ jd(2c-1)  jb(2c-1, :)  b(2c-1) ]
//    W = [ jd(2c)    jb(2c, :)    b(2c)   ]
//        [ R_c       S_c          qb1_c   ]
//        [ 0         R0           qb2     ]
//
// by reflector 0 (rows 1-3, giving the block's factor row) and reflectors
// 1 .. ncb, reflector k on rows k+1 .. k+3.  The border columns and the
// right-hand side of W live in the tall array t: for block j of a chunk of kc
// blocks, rows 2(kc-1-j) .. +2 hold its three top rows, and R0 follows right
// below, where block j-1 has left it.  Reflector k of block j then touches
// rows of t that block j-1 is done with once its own reflector k has run, so
// step s computes reflector 0 of block s and reflector k of block s-k side by
// side: they are independent, and every number still meets the same
// operations in the same order.  old_zero: the old block rows are zero (not
// read).
// One chunk of the two-row sweep: blocks c0 .. c0 + kc - 1 in the tall array t.
struct TwoRowChunk {
  std::size_t n, ne, ldt, c0, kc;
  double *r11, *r12, *qb1, *t, *v, *w;
  const double *jd, *jb, *b;
  bool old_zero;
  bool odd_border;  // jb holds only the odd rows (n x ne); the even rows are 0

  // Rows 2(kc-1-st) .. +2 of t from the new rows of block c0 + st and its
  // old row; x0 the column of reflector 0.
  double* load(std::size_t st, double* x0) const {
    const std::size_t c = c0 + st, r = 2 * c, mm = 2 * n;
    double* tr = t + 2 * (kc - 1 - st);
    for (std::size_t l = 0; l < ne; ++l) {
      tr[l * ldt] = odd_border ? 0.0 : jb[r + l * mm];
      tr[l * ldt + 1] = odd_border ? jb[c + l * n] : jb[r + 1 + l * mm];
      tr[l * ldt + 2] = old_zero ? 0.0 : r12[c + l * n];
    }
    tr[ne * ldt] = b[r];
    tr[ne * ldt + 1] = b[r + 1];
    tr[ne * ldt + 2] = old_zero ? 0.0 : qb1[c];
    x0[0] = jd[r];
    x0[1] = jd[r + 1];
    x0[2] = old_zero ? 0.0 : r11[c];
    return tr;
  }
  // The factor row of block c0 + st, once its reflector 0 has run.
  void store(std::size_t st) const {
    const std::size_t c = c0 + st;
    const double* tr = t + 2 * (kc - 1 - st);
    for (std::size_t l = 0; l < ne; ++l) r12[c + l * n] = tr[l * ldt];
    qb1[c] = tr[ne * ldt];
  }
  // Top of the column of reflector k + 1 of block j = st - 1 - k: row
  // 2(kc-1-j) + k + 1 = 2(kc + k - st) + k + 1 of t, column k.  The offset is
  // formed from terms that are never negative (st <= kc + k), so no
  // intermediate wraps around.
  double* pivot(std::size_t st, std::size_t k) const {
    return t + (2 * (kc + k - st) + k + 1) + k * ldt;
  }

  // Step st: reflector 0 of block st (if st < kc) and reflector k + 1 of
  // block st - 1 - k for each k with 0 <= st - 1 - k < kc.
  void step(std::size_t st) const {
    double x0[3];
    const double* xp[kHouseBatch];
    double* ap[kHouseBatch];
    double* piv[kHouseBatch];  // where each alpha goes
    int nc[kHouseBatch];
    double beta[kHouseBatch], alpha[kHouseBatch];
    const std::ptrdiff_t ld = static_cast<std::ptrdiff_t>(ldt);
    std::size_t g = 0;
    auto flush = [&] {
      houseg_batch(static_cast<int>(g), 3, xp, v, beta, alpha);
      for (std::size_t q = 0; q < g; ++q) *piv[q] = alpha[q];
      houseapl_batch(static_cast<int>(g), 3, nc, ap, ld, beta, v, w);
      g = 0;
    };
    if (st < kc) {
      ap[0] = load(st, x0);
      xp[0] = x0;
      nc[0] = static_cast<int>(ne + 1);
      piv[0] = r11 + c0 + st;
      g = 1;
    }
    for (std::size_t k = 0; k < ne; ++k) {
      if (st < k + 1 || st - 1 - k >= kc) continue;
      if (g == kHouseBatch) flush();
      double* col = pivot(st, k);
      xp[g] = col;
      ap[g] = col + ldt;
      nc[g] = static_cast<int>(ne - k);
      piv[g] = col;
      ++g;
    }
    if (g > 0) flush();
    if (st < kc) store(st);
  }

  // Steps st0 .. st1 - 1, all with their ne + 1 reflectors (ne <= st, st <
  // kc), for ne = NE known at compile time.
  template <std::size_t NE>
  void full_steps(std::size_t st0, std::size_t st1) const {
    constexpr std::size_t K = NE + 1;
    static_assert(K <= static_cast<std::size_t>(kHouseBatch));
    static constexpr std::array<int, K> nc = [] {
      std::array<int, K> a{};
      for (std::size_t q = 0; q < K; ++q) a[q] = static_cast<int>(NE + 1 - q);
      return a;
    }();
    const std::ptrdiff_t ld = static_cast<std::ptrdiff_t>(ldt);
    for (std::size_t st = st0; st < st1; ++st) {
      double x0[3];
      const double* xp[K];
      double* ap[K];
      double* piv[K];
      double beta[K], alpha[K];
      ap[0] = load(st, x0);
      xp[0] = x0;
      piv[0] = r11 + c0 + st;
      for (std::size_t k = 0; k < NE; ++k) {
        double* col = pivot(st, k);
        xp[k + 1] = col;
        ap[k + 1] = col + ldt;
        piv[k + 1] = col;
      }
      houseg_steps(std::integral_constant<std::size_t, K>(),
                   std::integral_constant<std::size_t, 3>(), xp, v, beta, alpha);
      for (std::size_t q = 0; q < K; ++q) *piv[q] = alpha[q];
      houseapl_steps(std::integral_constant<std::size_t, K>(),
                     std::integral_constant<std::size_t, 3>(), nc.data(), ap, ld, beta, v, w);
      store(st);
    }
  }

  // Steps st0 .. st1 - 1 as above, for any ne.
  void full_steps(std::size_t st0, std::size_t st1) const {
    switch (ne) {
      case 1: return full_steps<1>(st0, st1);
      case 2: return full_steps<2>(st0, st1);
      case 3: return full_steps<3>(st0, st1);
      case 4: return full_steps<4>(st0, st1);
      case 5: return full_steps<5>(st0, st1);
      case 6: return full_steps<6>(st0, st1);
      case 7: return full_steps<7>(st0, st1);
      case 8: return full_steps<8>(st0, st1);
      case 9: return full_steps<9>(st0, st1);
      case 10: return full_steps<10>(st0, st1);
      default:
        for (std::size_t st = st0; st < st1; ++st) step(st);
    }
  }
};

void two_row_sweep(int nb, int ncb, double* r11, double* r12, double* r22, double* qb1,
                   double* qb2, const double* jd, const double* jb, const double* b,
                   bool old_zero, bool odd_border, BalsqWork& work) {
  const std::size_t n = count(nb), ne = count(ncb), cols = ne + 1;
  const std::size_t ldt = 2 * kChunk + 1 + ne;
  if (work.t.size() < ldt * cols) work.t.resize(ldt * cols);
  if (work.a.size() < kHouseBatch * (3 + cols)) work.a.resize(kHouseBatch * (3 + cols));
  double* t = work.t.data();
  double* v = work.a.data();        // reflector vectors, 3 each
  double* w = v + 3 * kHouseBatch;  // A'v of each reflector

  // [R0 qb2] below the first chunk's rows.
  std::size_t top = 2 * std::min(kChunk, n) + 1;  // first row of R0 in t
  for (std::size_t i = 0; i < ne; ++i) {
    for (std::size_t j = i; j < ne; ++j) t[top + i + j * ldt] = r22[packed_index(ne, i, j)];
    t[top + i + ne * ldt] = qb2[i];
  }

  for (std::size_t c0 = 0; c0 < n; c0 += kChunk) {
    const std::size_t kc = std::min(kChunk, n - c0);
    if (top != 2 * kc + 1) {
      // R0 moves from the top of t to below this chunk's rows, bottom row first.
      const std::size_t to = 2 * kc + 1;
      for (std::size_t i = ne; i-- > 0;)
        for (std::size_t j = i; j < cols; ++j) t[to + i + j * ldt] = t[top + i + j * ldt];
      top = to;
    }
    const TwoRowChunk ch{n,  ne, ldt, c0, kc, r11,      r12,       qb1, t,
                         v,  w,  jd,  jb, b,  old_zero, odd_border};
    // Steps ne .. kc - 1 have all their reflectors; the first and last ne
    // steps of the chunk have fewer.
    if (ne < kc) {
      for (std::size_t st = 0; st < ne; ++st) ch.step(st);
      ch.full_steps(ne, kc);
      for (std::size_t st = kc; st < kc + ne; ++st) ch.step(st);
    } else {
      for (std::size_t st = 0; st < kc + ne; ++st) ch.step(st);
    }
    top = 1;
  }

  for (std::size_t i = 0; i < ne; ++i) {
    for (std::size_t j = i; j < ne; ++j) r22[packed_index(ne, i, j)] = t[top + i + j * ldt];
    qb2[i] = t[top + i + ne * ldt];
  }
}

}  // namespace

void BAQR(int nb, int ncd, int ncb, int m, int nrhs, double* r11, double* r12, double* r22,
          double* qb1, double* qb2, int nblk, const int* idx, const double* jd, const double* jb,
          const double* b, int& info, BalsqWork& work) {
  if (nb < 0) { info = -1; return; }
  if (ncd < 0) { info = -2; return; }
  if (ncb < 0) { info = -3; return; }
  if (m < 0) { info = -4; return; }
  if (nrhs < 0) { info = -5; return; }
  if (!structure_ok(nb, nblk, m, idx)) { info = -12; return; }
  if (m == 0) { info = 0; return; }
  if (two_row_blocks(nb, ncd, nblk, m, nrhs, idx)) {
    two_row_sweep(nb, ncb, r11, r12, r22, qb1, qb2, jd, jb, b, false, false, work);
    info = 0;
    return;
  }

  // Bucket the non-empty groups by block, keeping their order within a block:
  // the groups of block c are order[first[c] .. first[c+1]-1].
  const std::size_t ng = count(nblk), nblocks = count(nb) + 1;
  std::vector<std::ptrdiff_t>& start = work.start;  // first row of each group
  std::vector<std::ptrdiff_t>& first = work.first;
  std::vector<std::ptrdiff_t>& rows = work.rows;  // rows of each block
  if (start.size() < ng) start.resize(ng);
  first.assign(nblocks + 1, 0);
  rows.assign(nblocks, 0);
  {
    std::ptrdiff_t r = 0;
    for (std::size_t k = 0; k < ng; ++k) {
      start[k] = r;
      const int n = idx[ng + k];
      r += n;
      if (n > 0) {
        ++first[static_cast<std::size_t>(idx[k]) + 1];
        rows[static_cast<std::size_t>(idx[k])] += n;
      }
    }
  }
  for (std::size_t c = 0; c < nblocks; ++c) first[c + 1] += first[c];
  std::vector<std::size_t>& order = work.order;
  if (order.size() < static_cast<std::size_t>(first[nblocks]))
    order.resize(static_cast<std::size_t>(first[nblocks]));
  {
    std::vector<std::ptrdiff_t>& next = work.next;
    next.assign(first.begin(), first.end() - 1);
    for (std::size_t k = 0; k < ng; ++k) {
      if (idx[ng + k] > 0) order[static_cast<std::size_t>(next[static_cast<std::size_t>(idx[k])]++)] = k;
    }
  }

  // A block whose groups follow each other in the rows is passed in place;
  // otherwise its rows are gathered into TD, TB, TC first.
  auto contiguous = [&](std::size_t c) {
    for (std::ptrdiff_t t = first[c] + 1; t < first[c + 1]; ++t) {
      const std::size_t g0 = order[static_cast<std::size_t>(t - 1)];
      const std::size_t g1 = order[static_cast<std::size_t>(t)];
      if (start[g1] != start[g0] + idx[ng + g0]) return false;
    }
    return true;
  };
  std::ptrdiff_t maxrows = 0, maxgather = 0;
  for (std::size_t c = 0; c < nblocks; ++c) {
    maxrows = std::max(maxrows, rows[c]);
    if (first[c + 1] - first[c] > 1 && !contiguous(c)) maxgather = std::max(maxgather, rows[c]);
  }

  // Scratch for the whole sweep, sized once.
  const std::size_t nd = count(ncd), ne = count(ncb), nr = count(nrhs), mm = count(m);
  TrqrWork& ws = work.ws;
  ws.reserve(ncd + ncb, static_cast<int>(maxrows), nrhs);
  const std::size_t gs = static_cast<std::size_t>(maxgather);
  std::vector<double>& td = work.td;
  std::vector<double>& tb = work.tb;
  std::vector<double>& tc = work.tc;
  if (td.size() < gs * nd) td.resize(gs * nd);
  if (tb.size() < gs * ne) tb.resize(gs * ne);
  if (tc.size() < gs * nr) tc.resize(gs * nr);

  for (std::size_t c = 0; c < nblocks; ++c) {
    const std::ptrdiff_t mc = rows[c];
    if (mc == 0) continue;
    const double *pd, *pb, *pc;
    std::ptrdiff_t ld;
    if (contiguous(c)) {
      // (An array with no columns may be a null pointer: leave it so.)
      const std::ptrdiff_t r = start[order[static_cast<std::size_t>(first[c])]];
      pd = nd > 0 ? jd + r : jd;
      pb = ne > 0 ? jb + r : jb;
      pc = nr > 0 ? b + r : b;
      ld = m;
    } else {
      // Gather the groups' rows in group order.
      std::ptrdiff_t a = 0;
      for (std::ptrdiff_t t = first[c]; t < first[c + 1]; ++t) {
        const std::size_t g = order[static_cast<std::size_t>(t)];
        const std::ptrdiff_t r = start[g], n = idx[ng + g];
        for (std::size_t l = 0; l < nd; ++l)
          std::copy(jd + l * mm + r, jd + l * mm + r + n, td.data() + l * gs + a);
        for (std::size_t l = 0; l < ne; ++l)
          std::copy(jb + l * mm + r, jb + l * mm + r + n, tb.data() + l * gs + a);
        for (std::size_t l = 0; l < nr; ++l)
          std::copy(b + l * mm + r, b + l * mm + r + n, tc.data() + l * gs + a);
        a += n;
      }
      pd = td.data();
      pb = tb.data();
      pc = tc.data();
      ld = maxgather;
    }
    int s = 0;
    BAQRUPD(static_cast<int>(c), nb, ncd, ncb, static_cast<int>(mc), nrhs, r11, r12, r22, qb1,
            qb2, pd, ld, pb, ld, pc, ld, s, ws);
    if (s != 0) {
      // Unreachable after the tests above; block 0 must not read as success.
      info = c > 0 ? static_cast<int>(c) : nb + 1;
      return;
    }
  }
  info = 0;
}

void BALSQ(int nb, int ncd, int ncb, int nblk, int m, const int* idx, const double* jd,
           const double* jb, int nrhs, double* xs, const double* b, double* r11, double* r12,
           double* r22, double* qb1, double* qb2, double& vers, int& info, BalsqWork& work,
           bool odd_border) {
  vers = kBalsqVersion;
  if (nb < 0) { info = -1; return; }
  if (ncd < 0) { info = -2; return; }
  if (ncb < 0) { info = -3; return; }
  // Every row of xs must be reportable as an int status.
  const long long ntot = static_cast<long long>(nb) * ncd + ncb;
  if (ntot + 2 > INT_MAX) { info = -1; return; }
  if (!structure_ok(nb, nblk, m, idx)) { info = -6; return; }
  // A compact border is read by the sweep of two-row blocks only.
  if (odd_border && !two_row_blocks(nb, ncd, nblk, m, nrhs, idx)) { info = -6; return; }

  const std::size_t nd = count(ncd), ne = count(ncb), nr = count(nrhs);
  const std::size_t nbd = count(nb) * nd, n = static_cast<std::size_t>(ntot);
  const int fail = static_cast<int>(ntot) + 1;
  int s = 0;
  std::fill(r22, r22 + packed_size(ne), 0.0);
  std::fill(qb2, qb2 + ne * nr, 0.0);
  if (two_row_blocks(nb, ncd, nblk, m, nrhs, idx)) {
    // Every block row is written once, from a zero start.
    two_row_sweep(nb, ncb, r11, r12, r22, qb1, qb2, jd, jb, b, true, odd_border, work);
  } else {
    std::fill(r11, r11 + count(nb) * packed_size(nd), 0.0);
    std::fill(r12, r12 + nbd * ne, 0.0);
    std::fill(qb1, qb1 + nbd * nr, 0.0);
    BAQR(nb, ncd, ncb, m, nrhs, r11, r12, r22, qb1, qb2, nblk, idx, jd, jb, b, s, work);
    if (s != 0) { info = fail; return; }
  }

  // Back substitution R xs = [QB1; QB2] over all blocks in order, in place in
  // xs: the forward solve reads each right-hand side element just before it
  // writes the same place, so no separate copy is needed.
  for (std::size_t j = 0; j < nr; ++j) {
    std::copy(qb1 + j * nbd, qb1 + (j + 1) * nbd, xs + j * n);
    std::copy(qb2 + j * ne, qb2 + (j + 1) * ne, xs + j * n + nbd);
  }
  std::vector<int>& iblk = work.iblk;
  iblk.reserve(count(nb));
  for (std::size_t c = iblk.size(); c < count(nb); ++c) iblk.push_back(static_cast<int>(c) + 1);
  BASOLVE('n', nb, ncd, ncb, r11, r12, r22, nrhs, nb, iblk.data(), xs, xs, s);
  if (s == 0)
    info = 0;
  else if (s < 0 || s > static_cast<int>(ntot))
    info = fail + 1;
  else
    info = s;
}

}  // namespace quorvex
