# Same numbers as the Python package: the cases of python_reference.py fitted
# in both.  Every number is the laboratory library's in both packages (the
# fit, the curve, bands, samples read back, the joint covariance, diagnostics
# and verdicts, detection limits, Monte Carlo with the same seeds), so they
# must agree to the bit: a difference means the binding passed an argument
# or a result wrongly.

python_reference <- function() {
  pypath <- Sys.getenv("PYTHONPATH")
  lib <- Sys.getenv("QUORVEX_LIBRARY")
  if (!nzchar(pypath) || !nzchar(lib)) {
    skip(paste("the comparison with the Python package needs PYTHONPATH (the repository's",
               "python/ folder) and QUORVEX_LIBRARY (the library it loads)"))
  }
  repo <- dirname(normalizePath(strsplit(pypath, ":", fixed = TRUE)[[1]][1]))
  standards <- file.path(repo, "examples", "standards.csv")
  python <- Sys.getenv("QUORVEX_PYTHON", "/usr/bin/python3")
  if (!file.exists(standards) || !file.exists(python)) {
    skip(paste("the comparison needs", standards, "and", python))
  }
  text <- system2(python, c(shQuote(test_path("python_reference.py")), shQuote(standards)),
                  stdout = TRUE, stderr = TRUE)
  status <- attr(text, "status")
  if (!is.null(status) && status != 0) {
    stop("the Python reference failed:\n", paste(text, collapse = "\n"))
  }
  Encoding(text) <- "UTF-8"
  parts <- strsplit(text, " ", fixed = TRUE)
  out <- list()
  for (p in parts) {
    # Texts (where the blank's scatter came from, a sample's flags) have "~"
    # for spaces; everything else is hexadecimal floats.
    textual <- grepl("_source$|_notes$|^flag_[0-9]+$", p[2])
    out[[p[1]]][[p[2]]] <- if (textual) gsub("~", " ", p[3], fixed = TRUE) else
      as.numeric(p[-(1:2)])
  }
  out
}

ref <- NULL
verdicts_of <- function(cal) quorvex:::verdicts(cal)
reference <- function() {
  if (is.null(ref)) ref <<- python_reference()
  ref
}

# Largest difference in units of the array's largest magnitude.
rel_diff <- function(a, b) {
  a <- as.vector(a)
  b <- as.vector(b)
  if (length(a) != length(b)) return(Inf)
  same <- (is.na(a) & is.na(b)) | (!is.na(a) & !is.na(b) & a == b)
  if (all(same)) return(0)
  scale <- max(abs(b[is.finite(b)]), .Machine$double.xmin)
  max(abs(a - b)[!same]) / scale
}

expect_same <- function(r, p, what, tol = 1e-14) {
  d <- rel_diff(r, p)
  expect(d <= tol, sprintf("%s: R and Python differ by %.3g (relative to its largest value)",
                           what, d))
  invisible(d)
}

# Exactly the same bits (NA where Python has NaN): both read samples back
# through the same call of the laboratory library, so a difference means the
# binding passed an argument or a result wrongly.
expect_bits <- function(r, p, what) expect_same(r, p, what, tol = 0)

# Everything else a reading gives: U, u(y) and its source in words, the
# curve's part of u(x), all roots, the open interval and the flag bits.
expect_reading <- function(inv, r, label, wl) {
  p <- function(n) r[[paste0("inv_", n, "_", label)]]
  expect_bits(inv$U, p("U"), wl("U"))
  expect_bits(attr(inv, "u_curve"), p("ucurve"), wl("curve's part of u(x)"))
  if (!is.null(p("uy"))) expect_bits(inv$u_y, p("uy"), wl("u(y)"))
  if (!is.null(p("roots"))) {
    expect_bits(attr(inv, "roots"), p("roots"), wl("roots"))
    expect_bits(attr(inv, "u_roots"), p("uroots"), wl("u(roots)"))
    expect_identical(as.numeric(attr(inv, "n_roots")), p("nroots"), label = wl("root counts"))
  }
  expect_identical(as.numeric(inv$interval_open), p("open"), label = wl("interval open"))
  expect_identical(as.numeric(unrejected(attr(inv, "flag_bits"))), p("bits"),
                   label = wl("flag bits"))
  src <- r[[paste0("inv_", label, "_source")]]
  expect_identical(inv$u_y_source, strsplit(src, "|", fixed = TRUE)[[1]],
                   label = wl("u(y) source"))
}

# R's inverse() flags readings off a calibration its own criteria reject;
# Python's Calibration.inverse reads them as they are (its report and command
# line add the flag): the rest of the bits must agree.
unrejected <- function(bits) bitwAnd(bits, bitwNot(quorvex:::FLAG_CAL_REJECTED))

test_that("fits, bands, inverse predictions and limits equal the Python package's", {
  ref <- reference()
  has_defaults <- ref$meta$defaults == 1
  # (The cases of other weights, wv_ and ww_, have a test of their own below.)
  for (case in setdiff(names(ref), "meta")[!grepl("^(wv_|ww_|wmeta)", setdiff(names(ref), "meta"))]) {
    r <- ref[[case]]
    d <- data.frame(x = r$x, y = r$y)
    d$u_y <- r$u_y
    d$u_x <- r$u_x
    wt <- if (case == "std_1x") "1/x" else if (case == "std_1x2") "1/x2" else "none"
    cal <- calfit(y ~ x, d, u_y = r$u_y, u_x = r$u_x, degree = r$degree, weighting = wt)
    w <- function(name) paste(case, name)
    expect_identical(cal$interval, r$interval, label = w("interval"))
    # The fit, its scaled covariance and the power form: QVXL_FIT and
    # QVXL_POWER in both.
    expect_bits(cal$chebyshev$coef, r$coef, w("coef"))
    expect_bits(cal$chebyshev$cov, r$cov, w("cov"))
    expect_bits(cal$chebyshev$cov_scaled, r$cov_scaled, w("cov_scaled"))
    expect_bits(cal$sres, r$sres, w("sres"))
    expect_bits(cal$chi2, r$chi2, w("chi2"))
    expect_bits(fitted(cal), r$fitted, w("fitted"))
    expect_bits(coef(cal), r$power, w("power coefficients"))
    expect_bits(vcov(cal), r$power_cov, w("power covariance"))
    ys <- r$responses
    for (label in c("stated", "curve")) {
      u <- if (label == "stated") rep(0.004, length(ys)) else "curve-only"
      inv <- inverse(cal, ys, u_y = u)
      p <- function(n) r[[paste0("inv_", n, "_", label)]]
      wl <- function(n) w(paste(n, label))
      expect_bits(inv$x, p("x"), wl("x"))
      expect_bits(inv$u_x, p("ux"), wl("u(x)"))
      # The joint covariance: QVXL_JOINT_COV in both.
      expect_bits(attr(inv, "cov"), p("cov"), wl("joint cov"))
      if (has_defaults) {
        # Where there is no root neither gives k, dof or U (NA, NaN).
        ok <- !is.na(inv$x)
        expect_identical(is.na(inv$k), !ok)
        expect_identical(is.na(p("k")), !ok, label = wl("no k"))
        expect_identical(is.na(p("dof")), !ok, label = wl("no dof"))
        expect_bits(inv$k, p("k"), wl("k"))
        expect_bits(inv$dof, p("dof"), wl("dof"))
      }
      if (!is.null(p("low"))) {
        expect_bits(inv$low, p("low"), wl("low"))
        expect_bits(inv$high, p("high"), wl("high"))
      }
      if (!is.null(p("bits"))) expect_reading(inv, r, label, wl)
    }
    if (has_defaults && cal$covariance == "scaled") {
      for (m in c(1, 3)) {
        inv <- inverse(cal, ys, replicates = m)
        label <- paste0("scatter", m)
        s <- function(n) r[[paste0("inv_", n, "_", label)]]
        wl <- function(n) w(paste(n, "from the scatter,", m))
        expect_bits(inv$x, s("x"), wl("x"))
        expect_bits(inv$u_y, s("uy"), wl("u(y)"))
        expect_bits(inv$u_x, s("ux"), wl("u(x)"))
        expect_bits(inv$k, s("k"), wl("k"))
        expect_bits(inv$dof, s("dof"), wl("dof"))
        if (!is.null(s("low"))) {
          expect_bits(inv$low, s("low"), wl("low"))
          expect_bits(inv$high, s("high"), wl("high"))
        }
        if (!is.null(s("bits"))) expect_reading(inv, r, label, wl)
      }
    }
    b <- predict(cal, data.frame(x = r$grid), interval = "confidence", se.fit = TRUE)
    # Bands: QVXL_BAND (values, u, k) in both.
    expect_bits(b$fit[, "fit"], r$band_y, w("curve values"))
    expect_bits(b$u, r$band_u, w("confidence band's u"))
    expect_bits(b$k, r$band_k, w("coverage factor"))
    if (!is.null(r$pband_u)) {
      b <- predict(cal, data.frame(x = r$grid), interval = "prediction", se.fit = TRUE)
      expect_bits(b$u, r$pband_u, w("prediction band's u"))
    }
    v <- verdicts_of(cal)
    expect_bits(v$p_value, r$p_value, w("chi2 p-value"))
    if (ref$meta$verdicts == 0) {
      strict <- list(alpha = 0.2, tolerance = 5, tolerance_lowest = 8, back_fraction = 0.9,
                     cook = 0.5)
      for (label in c("", "_strict")) {
        v <- quorvex:::verdicts(cal, if (nzchar(label)) strict else NULL)
        p <- function(n) r[[paste0(n, label)]]
        wl <- function(n) w(paste0(n, label))
        if (!is.null(p("lof"))) {
          expect_bits(v$lack_of_fit$f, p("lof")[1], wl("lack-of-fit F"))
          expect_bits(v$lack_of_fit$p_value, p("lof")[2], wl("lack-of-fit p"))
          expect_identical(as.numeric(v$lack_of_fit$verdict == "fail"), p("lof")[3],
                           label = wl("lack-of-fit verdict"))
        }
        lv <- vapply(c("goodness", "lack_of_fit", "outliers"),
                     function(t) if (is.null(v$levels[[t]])) -1 else v$levels[[t]], 0)
        expect_bits(unname(lv), p("levels"), wl("levels"))
        expect_bits(v$threshold, p("threshold"), wl("outlier threshold"))
        o <- v$outliers
        expect_identical(as.numeric(if (nrow(o)) o$index else 0), p("outlier_rows"),
                         label = wl("flagged standards"))
        expect_identical(as.numeric(if (nrow(o)) o$outlier + 2 * o$influential else 0),
                         p("outlier_kind"), label = wl("outlier or influential"))
        expect_bits(if (nrow(o)) o$statistic else 0, p("outlier_statistic"),
                    wl("outlier statistics"))
        if (!is.null(p("back_x"))) {
          expect_bits(v$back_calculated$x_back, p("back_x"), wl("back-calculated x"))
        }
        code <- match(v$goodness, c("pass", "doubtful", "fail", "not tested")) - 1
        back <- if (is.null(v$back_calculated)) -1 else as.numeric(v$back_calculated$overall)
        expect_identical(c(code, back, as.numeric(v$fit_for_use)), p("verdicts"),
                         label = wl("verdicts"))
        expect_bits(c(v$r, v$r_squared), p("correlation"), wl("r and r2"))
      }
    }
    # Monte Carlo: the same seeds give the same draws and results, to the bit;
    # a seed beyond R's exact integers goes as a string of digits.
    mc <- list(mc_stated = list(u_y = rep(0.004, length(ys)), seed = "18446744073709551557"),
               mc_curve = list(u_y = "curve-only", seed = 2^53),
               mc_scatter = list(replicates = 3, seed = 5))
    for (label in names(mc)) {
      if (is.null(r[[paste0(label, "_x")]])) next
      got <- do.call(inverse, c(list(cal, ys, method = "montecarlo", n = 400L, level = 0.9),
                                mc[[label]]))
      wl <- function(n) w(paste(label, n))
      for (n in c("x", "u_x", "median", "low", "high", "no_root", "several_roots")) {
        expect_bits(got[[n]], r[[paste0(label, "_", n)]], wl(n))
      }
      expect_bits(attr(got, "se_low"), r[[paste0(label, "_se_low")]], wl("se_low"))
      expect_bits(attr(got, "se_high"), r[[paste0(label, "_se_high")]], wl("se_high"))
      expect_identical(as.numeric(got$agrees), r[[paste0(label, "_agrees")]], label = wl("agrees"))
      notes <- r[[paste0(label, "_notes")]]
      expect_identical(attr(got, "notes"), if (notes == "-") character() else
        strsplit(notes, "|", fixed = TRUE)[[1]], label = wl("notes"))
    }
    lim <- list(lod = list(), lod_out = list(blank = NULL),
                lod_ab = list(alpha = 0.01, beta = 0.1, replicates = 3, k_loq = 2.5),
                lod_ub = list(u_blank = 0.003))
    for (label in names(lim)) {
      want <- r[[label]]
      if (is.null(want)) next
      args <- lim[[label]]
      args$blank <- want[5]
      l <- do.call(lod, c(list(cal), args))
      got <- unlist(l[c("sigma", "slope", "lod", "loq", "blank", "sigma_blank", "s_blank",
                        "y_critical", "x_critical", "x_detection", "k_alpha", "delta",
                        "extrapolated", "loq_din")])
      # Both take the limits from the laboratory library (QVXL_LIMITS),
      # also where the curve is extended to reach a blank outside it: the
      # same bits.
      for (i in seq_along(got)) expect_bits(got[[i]], want[i], w(paste(label, names(got)[i])))
      expect_identical(l$blank_source, r[[paste0(label, "_source")]], label = w(paste(label, "source")))
    }
    if (!is.null(r$flag_y)) {
      blank <- r$lod[5]
      u <- if (cal$covariance == "scaled") NULL else 0.004
      inv <- inverse(cal, r$flag_y, u_y = u, limits = lod(cal, blank = blank))
      for (i in seq_along(r$flag_y)) {
        got <- setdiff(strsplit(inv$flags[i], "; ", fixed = TRUE)[[1]],
                       "calibration not fit for use")
        want <- r[[paste0("flag_", i - 1)]]
        want <- if (want == "-") character() else strsplit(want, "|", fixed = TRUE)[[1]]
        expect_identical(got, want, label = w(sprintf("flags of response %d", i)))
      }
      if (!is.null(r$flag_bits)) {
        expect_identical(as.numeric(unrejected(attr(inv, "flag_bits"))), r$flag_bits,
                         label = w("flag bits"))
        expect_identical(as.numeric(inv$interval_open), r$flag_open, label = w("interval open"))
      }
      if (!is.null(r$ext_x)) {
        # The straight line's closed form, also beyond the interval.
        ext <- inverse(cal, r$flag_y, u_y = u, extrapolate = TRUE)
        for (n in c("x", "u_x", "k", "dof", "U", "low", "high")) {
          expect_bits(ext[[n]], r[[paste0("ext_", n)]], w(paste("extrapolated", n)))
        }
        expect_identical(as.numeric(unrejected(attr(ext, "flag_bits"))), r$ext_flags,
                         label = w("extrapolated flag bits"))
      }
    }
  }
})

test_that("weights from the responses, a weight column and variance models equal Python's", {
  r <- reference()
  if (is.null(r$wmeta)) skip("the Python package has no variance models")
  fits <- list(wv_floor = list(variance = "floor"), wv_auto = list(variance = "auto"),
               wv_power = list(variance = "power"),
               wv_constant = list(variance = "constant", degree = 2),
               wv_resid = list(variance = "auto"), ww_1y = list(weighting = "1/y"),
               ww_1y2 = list(weighting = "1/y2"), ww_col = list(weights = TRUE))
  reads <- list(wv_auto = list(replicates = 3), wv_resid = list(replicates = 2),
                ww_1y = list(u_y_relative = c(1.2, 5.5, 9.5)),
                ww_1y2 = list(u_y_relative = c(1.5, 30, 90)),
                ww_col = list(u_y = c(0.03, 0.6, 1.8)))
  for (case in names(fits)) {
    p <- r[[case]]
    w <- function(what) paste(case, what)
    d <- data.frame(x = p$x, y = p$y)
    args <- c(list(y ~ x, d), fits[[case]])
    if (isTRUE(args$weights)) args$weights <- p$w
    cal <- do.call(calfit, args)
    expect_bits(cal$chebyshev$coef, p$coef, w("coefficients"))
    expect_bits(cal$cov_used, p$cov_used, w("covariance"))
    expect_bits(cal$sres, p$sres, w("SRES"))
    expect_bits(cal$u_y, p$u_y, w("the u(y) the fit took"))
    inv <- do.call(inverse, c(list(cal, p$responses), reads[[case]]))
    for (n in c("x", "u_x", "U", "k", "dof", "low", "high", "u_y")) {
      expect_bits(inv[[n]], p[[paste0("wi_", n)]], w(n))
    }
    # Python's inverse leaves the rejection flag to its command line and report.
    expect_bits(unrejected(attr(inv, "flag_bits")), p$wi_flags, w("flag bits"))
    expect_identical(paste(inv$u_y_source, collapse = "|"), p$wi_source, label = w("u(y) from"))
    for (label in c("wl", "wl_readings")) {
      want <- p[[label]]
      if (is.null(want)) {
        # Python refuses (u(y) that differ, no blank readings): R too.
        expect_error(lod(cal), class = "quorvex_input_error")
        next
      }
      l <- if (label == "wl") lod(cal) else lod(cal, blank_readings = r$wmeta$blanks)
      got <- unlist(l[c("sigma", "slope", "lod", "loq", "blank", "sigma_blank", "s_blank",
                        "y_critical", "x_critical", "x_detection", "k_alpha", "delta")])
      expect_bits(c(got, as.double(l$extrapolated), l$loq_din), want, w(label))
      expect_identical(l$blank_source, p[[paste0(label, "_source")]], label = w(paste(label, "source")))
    }
  }
})
