// Residuals, gradient 2 J'f and Gauss-Newton step of the generalized fit, all
// in time linear in the number of points: the Jacobian is kept in
// block-angular form and handed to the block product and block solver.
#include "gls/glsobj.h"

#include <algorithm>

#include "gls/balsq.h"
#include "gls/baprod.h"
#include "numeric/colmajor.h"
#include "numeric/keepwrk.h"
#include "numeric/trpack.h"
#include "numeric/status.h"

namespace quorvex {

namespace {

// The scratch of the objective, for n points and m coefficients.
void size_scratch(GLSWRK& w, std::size_t np, std::size_t nc) {
  // One group of two rows per point, in the order of the points.
  w.idx.resize(2 * np);
  for (std::size_t i = 0; i < np; ++i) {
    w.idx[i] = static_cast<int>(i) + 1;
    w.idx[np + i] = 2;
  }
  w.jd.assign(2 * np, 0.0);
  w.dy.assign(np, 0.0);
  w.basis.assign(np * nc, 0.0);
  w.xi.assign(np, 0.0);
  w.v.assign(2 * np, 0.0);
  w.qb1.assign(np, 0.0);
  w.qb2.assign(nc, 0.0);
}

}  // namespace

void GLSWRK::setup(const GlsData& data, const GlsCurve& curve, double* yf,
                   const BlockFactor& factor) {
  npts = data.npts;
  ncoef = curve.ncoef;
  model = curve.model;
  xmin = curve.xmin;
  xmax = curve.xmax;
  const std::size_t np = count(npts), nc = count(ncoef);
  xd = data.x;
  yd = data.y;
  wxd = data.wx;
  wyd = data.wy;
  yfd = yf;
  r11d = factor.r11;
  r12d = factor.r12;
  r22d = factor.r22;
  std::fill(yfd, yfd + np, 0.0);
  factor.clear(np, nc);
  size_scratch(*this, np, nc);
}

void GLSWRK::release(std::size_t cap) {
  xd = yd = wxd = wyd = nullptr;
  yfd = r11d = r12d = r22d = nullptr;
  WorkBytes bytes;
  for (const std::vector<double>* a :
       {&dy, &basis, &jd, &xi, &v, &qb1, &qb2, &wxs, &wys, &coef0, &scov, &ba.td, &ba.tb, &ba.tc,
        &ba.t, &ba.a, &ba.ws.w, &ba.ws.v, &ba.ws.wv, &cw.d, &cw.wk, &ols.a, &ols.b})
    bytes.add(*a);
  bytes.add(idx);
  bytes.add(ba.iblk);
  bytes.add(ba.start);
  bytes.add(ba.first);
  bytes.add(ba.rows);
  bytes.add(ba.next);
  bytes.add(ba.order);
  mw.count(bytes);
  if (!KEEPWRK(bytes.held, bytes.used, cap)) {
    const int mode = evmode;
    *this = GLSWRK();
    evmode = mode;
  }
}

void GLSOBJ(int& iflag, int nres, int npar, const double* x, double* f, double* g, double* p,
            void* userarg) {
  GLSWRK& w = *static_cast<GLSWRK*>(userarg);
  const int npts = w.npts;
  const int ncoef = w.ncoef;
  if (static_cast<long long>(npts) + ncoef != npar || 2LL * npts != nres) {
    iflag = QVX_GLS_SIZE_MISMATCH;
    return;
  }
  if (iflag > kWantResiduals) w.evmode = kModeRows;

  // Curve at the adjusted abscissae.  A request for residuals only asks the
  // model for values alone; a refusal is kept in evmode all the same.
  const std::size_t n = count(npts), m = count(ncoef);
  const Curve curve{ncoef, x + n, w.xmin, w.xmax};
  const double *xd = w.xd, *yd = w.yd, *wx = w.wxd, *wy = w.wyd;
  double* yf = w.yfd;
  for (std::size_t i = 0; i < n; ++i) w.xi[i] = xd[i] - x[i];
  if (iflag <= kWantResiduals && wants_rows(w.evmode)) {
    int mode = kModeValues;
    w.model(mode, curve, npts, w.xi.data(), yf, w.dy.data(), w.basis.data(), &w.cw);
    if (mode < 0) w.evmode = mode;
  } else {
    w.model(w.evmode, curve, npts, w.xi.data(), yf, w.dy.data(), w.basis.data(), &w.cw);
  }
  if (w.evmode < 0) {
    iflag = w.evmode - kRefusalOffset;
    return;
  }

  if (iflag <= kWantResiduals) {
    for (std::size_t i = 0; i < n; ++i) {
      f[2 * i + 1] = (yd[i] - yf[i]) * wy[i];
      f[2 * i] = wx[i] * x[i];
    }
    return;
  }

  // Residuals, the own-column entries of the Jacobian (rows 2i-1, 2i belong
  // to point i and its column i) and the gradient's right-hand side 2f.
  for (std::size_t i = 0; i < n; ++i) {
    const double f1 = (yd[i] - yf[i]) * wy[i], f0 = wx[i] * x[i];
    f[2 * i + 1] = f1;
    f[2 * i] = f0;
    w.jd[2 * i] = wx[i];
    w.jd[2 * i + 1] = wy[i] * w.dy[i];
    w.v[2 * i] = 2.0 * f0;
    w.v[2 * i + 1] = 2.0 * f1;
  }
  // Coefficient columns: their rows of the corrections are zero, and only
  // the others, -wy times the basis rows, are held, formed in place in the
  // basis rows (which the next evaluation computes afresh).
  ColMajor<double> basis(w.basis.data(), static_cast<std::ptrdiff_t>(n));
  for (std::size_t j = 0; j < m; ++j) {
    for (std::size_t i = 0; i < n; ++i) basis(i, j) = -wy[i] * basis(i, j);
  }
  const double* jb = w.basis.data();

  // Gradient of sum f^2: J' (2f).
  const std::size_t nr = count(nres);
  int info = 0;
  BAPROD('t', npts, 1, ncoef, npts, nres, 1, w.idx.data(), w.jd.data(), jb, g, w.v.data(), info,
         true);
  if (info != 0) {
    iflag = QVX_GLS_GRADIENT_FAILED;
    return;
  }

  // Gauss-Newton step: least-squares solution of J p = -f; the factor stays.
  if (iflag == kWantStep) {
    for (std::size_t k = 0; k < nr; ++k) w.v[k] = -f[k];
    double vers = 0.0;
    BALSQ(npts, 1, ncoef, npts, nres, w.idx.data(), w.jd.data(), jb, 1, p, w.v.data(),
          w.r11d, w.r12d, w.r22d, w.qb1.data(), w.qb2.data(), vers, info,
          w.ba, true);
    if (info != 0) iflag = QVX_GLS_STEP_FAILED;
  }
}

}  // namespace quorvex
