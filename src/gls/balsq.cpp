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
#include <climits>
#include <cstddef>
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

void BAQR(int nb, int ncd, int ncb, int m, int nrhs, double* r11, double* r12, double* r22,
          double* qb1, double* qb2, int nblk, const int* idx, const double* jd, const double* jb,
          const double* b, int& info) {
  BalsqWork work;
  BAQR(nb, ncd, ncb, m, nrhs, r11, r12, r22, qb1, qb2, nblk, idx, jd, jb, b, info, work);
}

void BALSQ(int nb, int ncd, int ncb, int nblk, int m, const int* idx, const double* jd,
           const double* jb, int nrhs, double* xs, const double* b, double* r11, double* r12,
           double* r22, double* qb1, double* qb2, double& vers, int& info, BalsqWork& work) {
  vers = kBalsqVersion;
  if (nb < 0) { info = -1; return; }
  if (ncd < 0) { info = -2; return; }
  if (ncb < 0) { info = -3; return; }
  // Every row of xs must be reportable as an int status.
  const long long ntot = static_cast<long long>(nb) * ncd + ncb;
  if (ntot + 2 > INT_MAX) { info = -1; return; }
  if (!structure_ok(nb, nblk, m, idx)) { info = -6; return; }

  const std::size_t nd = count(ncd), ne = count(ncb), nr = count(nrhs);
  const std::size_t nbd = count(nb) * nd, n = static_cast<std::size_t>(ntot);
  std::fill(r11, r11 + count(nb) * packed_size(nd), 0.0);
  std::fill(r12, r12 + nbd * ne, 0.0);
  std::fill(r22, r22 + packed_size(ne), 0.0);
  std::fill(qb1, qb1 + nbd * nr, 0.0);
  std::fill(qb2, qb2 + ne * nr, 0.0);

  const int fail = static_cast<int>(ntot) + 1;
  int s = 0;
  BAQR(nb, ncd, ncb, m, nrhs, r11, r12, r22, qb1, qb2, nblk, idx, jd, jb, b, s, work);
  if (s != 0) { info = fail; return; }

  // Back substitution R xs = [QB1; QB2] over all blocks in order.
  std::vector<double>& w = work.rhs;
  if (w.size() < n * nr) w.resize(n * nr);
  for (std::size_t j = 0; j < nr; ++j) {
    std::copy(qb1 + j * nbd, qb1 + (j + 1) * nbd, w.data() + j * n);
    std::copy(qb2 + j * ne, qb2 + (j + 1) * ne, w.data() + j * n + nbd);
  }
  std::vector<int>& iblk = work.iblk;
  iblk.reserve(count(nb));
  for (std::size_t c = iblk.size(); c < count(nb); ++c) iblk.push_back(static_cast<int>(c) + 1);
  BASOLVE('n', nb, ncd, ncb, r11, r12, r22, nrhs, nb, iblk.data(), xs, w.data(), s);
  if (s == 0)
    info = 0;
  else if (s < 0 || s > static_cast<int>(ntot))
    info = fail + 1;
  else
    info = s;
}

void BALSQ(int nb, int ncd, int ncb, int nblk, int m, const int* idx, const double* jd,
           const double* jb, int nrhs, double* xs, const double* b, double* r11, double* r12,
           double* r22, double* qb1, double* qb2, double& vers, int& info) {
  BalsqWork work;
  BALSQ(nb, ncd, ncb, nblk, m, idx, jd, jb, nrhs, xs, b, r11, r12, r22, qb1, qb2, vers, info,
        work);
}

}  // namespace quorvex
