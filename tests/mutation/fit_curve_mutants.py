"""Faults planted one at a time in the fit rules and curve statistics of the
laboratory layer; each must make a LabFit/LabCurve test fail.

    python3 tests/mutation/fit_curve_mutants.py [INDEX ...]

Run from a configured build/ (it rebuilds QUORVEXlab1 per fault and runs
build/tests/quorvex_tests --gtest_filter='Lab*'; every file is restored after each
fault, and the library rebuilt at the end).  Do not run other tests against build/
meanwhile.  Two faults are equivalent (the outputs do not change): 34, whose
refusal GLSPFIT's own starting fit repeats, and 50, where NaN propagates anyway.
"""
import subprocess, sys, pathlib
R = pathlib.Path(__file__).resolve().parents[2]
M = [
 ("src/fitrules/fit_defaults.cpp", "std::max(kPadUx * ux_max, kPadRange * (hi - lo))", "kPadUx * ux_max", "padding without the 5 % of the range"),
 ("src/fitrules/covariance_scaling.cpp", "if (dof == 0) {", "if (dof < 0) {", "scaled covariance at dof 0 not NaN"),
 ("src/curvestats/band.cpp", "  if (covkind == 1) {\n    if (dof", "  if (covkind == 0) {\n    if (dof", "t and normal swapped"),
 ("src/curvestats/band.cpp", "sided == 2 ? (1.0 + level) / 2.0 : level", "level", "two-sided level used as one-sided"),
 ("src/curvestats/band.cpp", "if (kind == 1) u[i]", "if (kind == 2) u[i]", "prediction band without the response's sd"),
 ("src/curvestats/power_form.cpp", "const double beta = -(xmin + xmax)", "const double beta = (xmin + xmax)", "power form: sign of the shift"),
 ("src/fitrules/fit.cpp", "if (!in.keep || in.keep[i] != 0) rows.push_back(i);", "rows.push_back(i);", "keep mask ignored"),
 ("src/curvestats/band.cpp", "(covkind == 1 ? sres : 1.0)", "sres", "response sd scaled under the stated covariance"),
 ("src/curvestats/joint_covariance.cpp", "  for (std::size_t i = 0; i < n; ++i) out[i * n + i] += d[i];", "", "joint covariance without the responses' part"),
 ("src/fitrules/fit_defaults.cpp", "kStepRtol * std::sqrt(ux2 + uc2)", "kStepRtol * std::sqrt(ux2)", "TOL(1) without the coefficients' uncertainty"),
 ("src/fitrules/fit.cpp", "chi = chi2(n, wres.data(), wresx.data());", "chi = chi2(n, wres.data(), nullptr);", "chi2 of errors in variables without the x residuals"),
 ("src/fitrules/weighting.cpp", "if (!(x[i] > 0.0)) return i;", "if (x[i] < 0.0) return i;", "x = 0 accepted under a preset"),
 ("src/fitrules/fit.cpp", "(in.uy ? 0 : 1)", "(in.uy ? 1 : 0)", "default covariance inverted"),
 ("src/curvestats/joint_covariance.cpp", "if (used[i]) e += w[i * m + q] * d[i] * w[i * m + p];", "if (used[i] && p == q) e += w[i * m + q] * d[i] * w[i * m + p];", "combinations: cross terms of the responses dropped"),
 ("src/fitrules/fit.cpp", "sres = dof > 0 ? std::sqrt(chi / dof) : 0.0;", "sres = dof > 0 ? std::sqrt(chi / static_cast<double>(n)) : 0.0;", "SRES divided by n, not the dof"),
 ("src/curvestats/curve_values.cpp", "u[i] = std::sqrt(at.variance(x[i]));", "u[i] = at.variance(x[i]);", "u(p(x)) as the variance"),
 ("src/fitrules/fit.cpp", "out.res[i] = in.y[i] - out.fitted[i];", "out.res[i] = out.fitted[i] - in.y[i];", "excluded row: residual sign"),
 ("src/fitrules/fit.cpp", "if (v < xmin || v > xmax) return QVXL_FIT_OUTSIDE;", "if (v < xmin) return QVXL_FIT_OUTSIDE;", "standard above the interval accepted"),
 ("src/interface/lab_curve.cpp", "  if (covkind == 1 && ndof < 1) return QVXL_CURVE_NO_DOF;\n", "", "scaled covariance without dof not refused"),
 ("src/fitrules/fit_defaults.cpp", "16.0 * eps * std::sqrt(round2)", "1.0 * eps * std::sqrt(round2)", "TOL(2) rounding floor 1 eps, not 16"),
 ("src/fitrules/fit.cpp", "    if (in.ux && !(in.ux[i] > 0.0 && finite(in.ux[i]))) return QVXL_BAD_VALUE;\n", "", "u(x) <= 0 not refused"),
 ("src/curvestats/band.cpp", "    lower[i] = y[i] - k * u[i];", "    lower[i] = y[i] - 2.0 * u[i];", "band uses 2 instead of k"),
]

M += [
 ("src/curvestats/power_form.cpp", "ca[j * n + i] = 0.5 * (full[j * n + i] + full[i * n + j]);", "ca[j * n + i] = full[j * n + i];", "power covariance not symmetrized"),
 ("src/curvestats/power_form.cpp", "const double w = k == 0 ? 0.5 : 1.0;", "const double w = 1.0;", "power form: first coefficient at full weight"),
 ("src/fitrules/fit.cpp", "xi[j] = x[j] - delta[j];", "xi[j] = x[j] + delta[j];", "residuals at x + delta"),
 ("src/curvestats/joint_covariance.cpp", "s[k * n + i] = -g[k] / slope;", "s[k * n + i] = g[k] / slope;", "sensitivity sign"),
 ("src/fitrules/fit.cpp", "else if (in.uy) w = 1.0 / in.uy[i];", "else if (in.uy) w = in.uy[i];", "excluded row weighted by u(y), not 1/u(y)"),
 ("src/fitrules/fit.cpp", "if (istat[0] >= 4) status = QVXL_FIT_UNCONVERGED;", "if (istat[0] > 4) status = QVXL_FIT_UNCONVERGED;", "iteration limit not reported"),
 ("src/fitrules/fit_defaults.cpp", "s = std::max({s, wx[i], wy[i]});", "s = std::max(s, wy[i]);", "S without the x weights"),
 ("src/interface/lab_fit.cpp", "if (*SRES < 0.0 || *NDOF < 0) return QVXL_BAD_VALUE;", "if (*SRES < 0.0) return QVXL_BAD_VALUE;", "negative dof accepted"),
 ("src/fitrules/fit.cpp", "if (!(xmin < xmax)) return QVXL_FIT_NO_SPREAD;", "if (xmin > xmax) return QVXL_FIT_NO_SPREAD;", "empty default interval accepted"),
 ("src/curvestats/band.cpp", "    upper[i] = y[i] + k * u[i];", "    upper[i] = y[i] + k * std::abs(u[i] - 0.0) + (kind == 1 ? rsd[i] : 0.0);", "prediction band's upper end adds the sd linearly"),
]

M += [
 ("src/fitrules/fit.cpp", "wresx[j] = delta[j] * wx[j];", "wresx[j] = delta[j] / wx[j];", "x residual divided by the weight"),
 ("src/fitrules/fit.cpp", "out.xadj[i] = x[j] - delta[j];", "out.xadj[i] = x[j];", "adjusted x not adjusted"),
 ("src/fitrules/fit.cpp", "      if (st != 0) {\n        info[0] = st;", "      if (st > 100) {\n        info[0] = st;", "starting fit's refusal ignored"),
 ("src/interface/lab_curve.cpp", "for (std::size_t j = 1; j < m; ++j)", "for (std::size_t j = 1; j + 1 < m; ++j)", "last stated u(y) not compared"),
 ("src/curvestats/band.cpp", "weighting == 1 && x < 0.0", "weighting == 1 && x <= 0.0", "1/x scatter NaN at x = 0 too"),
 ("src/curvestats/joint_covariance.cpp", "      if (w[i * m + q] != 0.0) v += w[i * m + q] * r.x[i];", "      v += w[i * m + q] * r.x[i];", "combination value sums readings weighted 0"),
 ("src/interface/lab_curve.cpp", "if (!(RSD[i] >= 0.0)) return QVXL_BAD_VALUE;", "if (RSD[i] < -1e300) return QVXL_BAD_VALUE;", "negative response sd accepted"),
 ("src/fitrules/fit.cpp", "const int covkind = opt.covkind >= 0 ? opt.covkind : (in.uy ? 0 : 1);", "const int covkind = in.uy ? 0 : 1;", "requested covariance ignored"),
 ("src/interface/lab_fit.cpp", "default_interval(n, X, *HASUX ? UX : nullptr, nullptr, lo, hi);", "default_interval(n, X, UX, nullptr, lo, hi);", "u(x) padding applied without u(x)"),
 ("src/curvestats/power_form.cpp", "const double alpha = 2.0 / (xmax - xmin);", "const double alpha = 1.0 / (xmax - xmin);", "power form: scale of t"),
]

M += [
 ("src/fitrules/fit.cpp", "if (in.weighting != 0 && (in.uy || in.ux)) return", "if (in.weighting != 0 && (in.uy && in.ux)) return", "preset with u(y) alone accepted"),
 ("src/fitrules/fit.cpp", "sres = dof > 0 ? std::sqrt(chi / dof) : 0.0;", "sres = dof > 0 ? std::sqrt(chi / dof) : kNaN;", "errors-in-variables SRES NaN at dof 0"),
 ("src/fitrules/covariance_scaling.cpp", "if (!std::isfinite(s2) || (cov_finite && !out_finite)) {", "if (!std::isfinite(s2)) {", "overflow of a finite covariance on scaling not refused"),
 ("src/interface/lab_fit.cpp", "return preset_weights(*WEIGHTING, n, X, OUT) == n ? QVXL_OK : QVXL_FIT_X_NOT_POSITIVE;", "preset_weights(*WEIGHTING, n, X, OUT); return QVXL_OK;", "weights' refusal dropped"),
 ("src/curvestats/band.cpp", "return quantile(Dist::StudentT, q, static_cast<double>(dof));", "return quantile(Dist::StudentT, q, static_cast<double>(dof - 1));", "t with dof - 1"),
 ("src/fitrules/fit.cpp", "for (std::size_t j = 0; j < n; ++j) wy[j] = 1.0 / in.uy[rows[j]];", "for (std::size_t j = 0; j < n; ++j) wy[j] = 1.0 / in.uy[j];", "u(y) of the kept rows misindexed"),
 ("src/fitrules/fit.cpp", "      ux[j] = in.ux[rows[j]];", "      ux[j] = in.ux[j];", "u(x) of the kept rows misindexed"),
 ("src/interface/lab_fit.cpp", "if (st == QVXL_OK || (st >= QVXL_FIT_OLS_FAILED && st <= QVXL_FIT_SCALE_OVERFLOW)) {", "if (st == QVXL_OK) {", "options used not written on statuses 36-39"),
 ("src/curvestats/joint_covariance.cpp", "    if (std::isnan(r.x[i])) {", "    if (std::isinf(r.x[i])) {", "no-root readings not marked NaN"),
 ("src/interface/lab_curve.cpp", "if (int st = check_curve(*NCOEF, *XMIN, *XMAX, 2); st) return st;", "if (int st = check_curve(*NCOEF, *XMIN, *XMAX, 1); st) return st;", "joint covariance of a constant curve accepted"),
]
only = sys.argv[1:] and [int(a) for a in sys.argv[1:]]
for idx, (f, old, new, what) in enumerate(M):
    if only and idx not in only: continue
    p = R / f
    src = p.read_text()
    assert src.count(old) == 1, (f, old)
    p.write_text(src.replace(old, new))
    try:
        b = subprocess.run("cmake --build build -j2 --target QUORVEXlab1", shell=True, cwd=R, capture_output=True, text=True)
        if b.returncode:
            print(idx, "BUILD FAILED", what, b.stdout[-500:]); continue
        t = subprocess.run("build/tests/quorvex_tests --gtest_filter='Lab*' --gtest_brief=1", shell=True, cwd=R, capture_output=True, text=True)
        failed = [l.split()[-1] for l in t.stdout.splitlines() if l.startswith("[  FAILED  ]") and "ms)" in l]
        failed = sorted(set(l for l in (x.split('(')[0] for x in t.stdout.splitlines() if x.startswith('[  FAILED  ] Lab')) ))
        print(idx, "CAUGHT" if t.returncode else "SURVIVED", "|", what, "|", " ".join(s.replace('[  FAILED  ] ','').strip() for s in failed), flush=True)
    finally:
        p.write_text(src)
subprocess.run("cmake --build build -j2 --target QUORVEXlab1", shell=True, cwd=R, capture_output=True)
