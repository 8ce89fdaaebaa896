# inverse(): measured responses read back into x, with u(x), the expanded
# uncertainty and the joint covariance; lod(): detection limits.

DEFAULT_NGRID <- 100L
MAX_JOINT <- 2000L
END_RTOL <- 1e-9

check_cal <- function(cal) {
  if (!inherits(cal, "quorvex_cal")) input_error("cal must be a calibration made by calfit()")
}

# IPVAL on responses y with u(y) uy: list(n_roots, roots, u_roots), roots and
# u_roots with one column per response (NA beyond the roots found).
ipval <- function(cal, y, uy, ngrid = DEFAULT_NGRID, tol = 0) {
  if (ncoef_of(cal) < 2) input_error("a constant curve (degree 0) has no inverse", routine = "IPVAL")
  r <- .Call(qvx_ipval, cal$chebyshev$coef, cal$cov_used, as.double(y), as.double(uy),
             cal$interval[1], cal$interval[2], as.integer(ngrid), as.double(tol))
  if (r$status != 0L) {
    status_error("IPVAL", r$status, list(xmin = cal$interval[1], xmax = cal$interval[2]))
  }
  r
}

responses <- function(y) {
  if (is.data.frame(y) || is.list(y)) input_error("y must be a vector of responses")
  y <- numeric_column(y, "y")
  if (!length(y)) input_error("y has no responses")
  y
}

# u(y) of each response and where it comes from (the Python package's rules).
response_uncertainty <- function(cal, u_y, replicates, n) {
  if (!is.numeric(replicates) || !length(replicates) %in% c(1L, n) || anyNA(replicates) ||
      any(replicates != round(replicates)) || any(replicates < 1)) {
    input_error("replicates must be whole numbers >= 1, one for all responses or one each")
  }
  replicates <- rep_len(as.double(replicates), n)
  if (is.character(u_y)) {
    if (length(u_y) != 1L || u_y != "curve-only") {
      input_error("u_y must be numbers, NULL or \"curve-only\", not \"", u_y[1], "\"")
    }
    if (any(replicates != 1)) {
      input_error("replicates set how u(y) is taken from the scatter; with u_y = ",
                  "\"curve-only\" there is no reading part")
    }
    return(list(u = rep(0, n), source = rep("curve only", n), kind = "curve-only",
                replicates = replicates))
  }
  if (is.null(u_y)) {
    if (cal$covariance != "scaled") {
      input_error("the standards carry stated u_y, so the samples' u(y) cannot be taken from ",
                  "the scatter: give u_y per sample (a vector), one value for all, or ",
                  "u_y = \"curve-only\"")
    }
    src <- ifelse(replicates == 1, "from the scatter, 1 reading",
                  sprintf("from the scatter, %d readings", as.integer(replicates)))
    return(list(u = NULL, source = src, kind = "scatter", replicates = replicates))
  }
  u <- numeric_column(u_y, "u_y", n)
  if (!all(u >= 0)) input_error("u_y must not be negative: element(s) ", row_list(which(u < 0)))
  if (any(replicates != 1)) {
    input_error("replicates set how u(y) is taken from the scatter; a stated u_y is the ",
                "uncertainty of the value given (of the mean of replicates)")
  }
  list(u = rep_len(u, n), source = rep("stated", n), kind = "stated", replicates = replicates)
}

inverse <- function(cal, y, u_y = NULL, replicates = 1, method = c("first-order", "montecarlo"),
                    level = 0.95, ngrid = 100L, extrapolate = FALSE, n = 10000L, seed = NULL) {
  check_cal(cal)
  method <- one_of(method, c("first-order", "montecarlo"), "method")
  y <- responses(y)
  m <- length(y)
  ngrid <- whole_number(ngrid, "ngrid", 1L)
  uy <- response_uncertainty(cal, u_y, replicates, m)
  if (!is.numeric(level) || length(level) != 1L || is.na(level) || !(level > 0 && level < 1)) {
    input_error("level must lie strictly between 0 and 1")
  }
  nc <- ncoef_of(cal)
  if (nc < 2) input_error("a constant curve (degree 0) has no inverse", routine = "IPVAL")
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  if (isTRUE(extrapolate)) {
    if (nc != 2) input_error("extrapolate needs a straight line (degree 1), not degree ", nc - 1)
    if (method != "first-order") input_error("extrapolate applies to the first-order inverse only")
    solve1 <- function(u) {
      r <- .Call(qvx_ipval_degree1, cal$chebyshev$coef, cal$cov_used, y, u, lo, hi)
      if (r$status != 0L) status_error("IPVAL_DEGREE1", r$status, list(xmin = lo, xmax = hi))
      list(n_roots = as.integer(is.finite(r$x)), roots = matrix(r$x, 1), u_roots = matrix(r$u_x, 1))
    }
  } else {
    solve1 <- function(u) ipval(cal, y, u, ngrid)
  }
  if (uy$kind == "scatter") {
    if (cal$dof == 0) {
      input_error("the fit has no degrees of freedom, so the scatter of a reading is not ",
                  "known: give u_y, or u_y = \"curve-only\"")
    }
    # The scatter of one reading at the sample's x (SRES / W(x)): the roots do
    # not depend on u(y), so they are found first (a response with no root is
    # placed at the end of the interval whose curve value is nearer), then u(x)
    # with u(y) there.
    scale <- rep(1, m)
    if (!is.null(cal$weighting)) {
      x1 <- solve1(rep(0, m))$roots[1, ]
      ends <- evaluate(cal, c(lo, hi))
      near_lo <- abs(y - ends[1]) <= abs(y - ends[2])
      x1 <- ifelse(is.na(x1), ifelse(near_lo, lo, hi), x1)
      scale <- response_scale(cal$weighting, if (cal$weighting == "1/x") pmax(x1, 0) else x1)
    }
    uy$u <- cal$sres * scale / sqrt(uy$replicates)
  }
  r <- solve1(uy$u)
  x <- r$roots[1, ]
  u_x <- r$u_roots[1, ]
  # Expanded uncertainty U = k u(x), k from Student's t with the dof below
  # (normal where it is infinite).
  xs0 <- ifelse(is.na(x), lo, x)
  sl <- curve_slope(cal$chebyshev$coef, xs0, lo, hi)
  g <- basis_rows(xs0, nc, lo, hi)
  var_read <- uy$u^2 / sl^2
  # Degrees of freedom of u(x): the curve's part has the fit's dof when its
  # covariance is scaled by the scatter (else infinite), the reading's part the
  # fit's dof when u(y) is from the scatter.  Both from the same scatter: the
  # fit's dof; a scaled part with a stated part: Welch-Satterthwaite (GUM G.4.1),
  # nu = u(x)^4 / (u_c^4 / nu_c + u_r^4 / nu_r).
  nu_c <- if (cal$covariance == "scaled" && cal$dof > 0) cal$dof else Inf
  nu_r <- if (uy$kind == "scatter") cal$dof else Inf
  var_curve <- rowSums((g %*% cal$cov_used) * g) / sl^2
  if (is.finite(nu_r) && nu_r == nu_c) {
    dof <- rep(nu_c, m)
  } else {
    denom <- (if (is.finite(nu_c)) var_curve^2 / nu_c else rep(0, m)) +
      (if (is.finite(nu_r)) var_read^2 / nu_r else 0)
    dof <- ifelse(!is.na(denom) & denom > 0, (var_curve + var_read)^2 / denom, Inf)
  }
  k <- qt((1 + level) / 2, dof)
  # No root, no interval: k and dof are not given either.
  k[is.na(x)] <- NA_real_
  dof[is.na(x)] <- NA_real_
  atol <- END_RTOL * (hi - lo)
  near <- abs(r$roots - lo) <= atol | abs(r$roots - hi) <= atol
  at_end <- colSums(!is.na(near) & near) > 0
  if (isTRUE(extrapolate)) at_end <- rep(FALSE, m)
  flags <- flag_text(list(r$n_roots == 0, r$n_roots > 1, at_end),
                     c("no root", "several roots", "at end"))
  band <- if (isTRUE(extrapolate)) list(low = rep(NA_real_, m), high = rep(NA_real_, m)) else
    inversion_interval(cal, y, x, k, uy$u)
  open <- !is.na(band$low) & (band$low <= lo | band$high >= hi)
  flags <- flag_text(list(nzchar(flags), open), list(flags, "open interval"))
  out <- data.frame(y = y, x = x, u_x = u_x, U = k * u_x, k = k, dof = dof, low = band$low,
                    high = band$high, flags = flags, u_y = uy$u, u_y_source = uy$source,
                    stringsAsFactors = FALSE)
  # Joint covariance of the first roots: S C S' + diag(u_y^2 / p'^2),
  # S = -g(x)/p'(x) (Cov(x_i, x_j) through the curve's coefficients).  Its
  # factors are kept for any number of responses, the m x m matrix itself up
  # to MAX_JOINT responses (beyond, it would not fit in memory).
  s <- -g / sl
  s[is.na(x), ] <- NA_real_
  d <- ifelse(is.na(x), NA_real_, var_read)
  attr(out, "sensitivity") <- s
  attr(out, "response_variance") <- d
  attr(out, "cov_coef") <- cal$cov_used
  if (m <= MAX_JOINT) {
    jc <- s %*% cal$cov_used %*% t(s)
    diag(jc) <- diag(jc) + d
    attr(out, "cov") <- jc
  }
  roots <- t(r$roots)
  u_roots <- t(r$u_roots)
  attr(out, "roots") <- roots
  attr(out, "u_roots") <- u_roots
  attr(out, "n_roots") <- r$n_roots
  attr(out, "coverage") <- level
  class(out) <- c("quorvex_inverse", "data.frame")
  if (method == "montecarlo") return(monte_carlo(cal, out, n, seed, level, ngrid))
  out
}

print.quorvex_inverse <- function(x, ...) {
  cat(sprintf("Inverse prediction of %d response(s); U = k u(x) at %g %% coverage\n",
              nrow(x), 100 * attr(x, "coverage")))
  print(as.data.frame(unclass(x))[, setdiff(names(x), character())], ...)
  invisible(x)
}

# Monte Carlo inverse prediction (the Python package's monte_carlo): draw j
# takes a curve c_j ~ N(coef, C) and responses y_i + u(y_i) z; per response the
# root nearest the first-order x (the first where there is none), then the
# mean, standard deviation, median and the probabilistically symmetric
# interval of the draws with a root.
monte_carlo <- function(cal, fo, n, seed, level, ngrid) {
  n <- whole_number(n, "n", 2L)
  if (!is.null(seed)) {
    had <- exists(".Random.seed", envir = globalenv(), inherits = FALSE)
    if (had) old <- get(".Random.seed", envir = globalenv())
    on.exit(if (had) assign(".Random.seed", old, envir = globalenv()) else
      rm(".Random.seed", envir = globalenv()))
    set.seed(seed)
  }
  cov <- cal$cov_used
  if (!all(is.finite(cov))) {
    input_error("the coefficient covariance is not finite (a scaled covariance without ",
                "degrees of freedom?)")
  }
  e <- eigen(0.5 * (cov + t(cov)), symmetric = TRUE)
  lfac <- e$vectors %*% diag(sqrt(pmax(e$values, 0)), nrow = length(e$values))
  nc <- ncoef_of(cal)
  dev <- lfac %*% matrix(rnorm(nc * n), nc, n)
  # With the scaled covariance the scale of the scatter is itself an estimate
  # on dof degrees of freedom: each draw takes sigma^2 = SRES^2 dof / chi2_dof
  # too and scales the curve's deviation, and that of a response whose u(y)
  # came from the scatter, by sigma / SRES; the curves then follow the scaled
  # and shifted multivariate t distribution (GUM Supplement 1, 6.4.9).
  scale <- NULL
  if (cal$covariance == "scaled" && cal$dof > 0) {
    scale <- sqrt(cal$dof / stats::rchisq(n, cal$dof))
    dev <- dev * rep(scale, each = nc)
  }
  curves <- cal$chebyshev$coef + dev
  m <- nrow(fo)
  uy <- ifelse(is.na(fo$u_y), 0, fo$u_y)
  from_scatter <- !is.null(scale) & startsWith(fo$u_y_source, "from the scatter")
  ux <- fo$u_x[is.finite(fo$u_x) & fo$u_x > 0]
  tol <- if (length(ux)) 1e-6 * min(ux) else 0
  xs <- matrix(NA_real_, m, n)
  cnt <- matrix(0L, m, n)
  for (b0 in seq(1L, m, by = 512L)) {
    b <- b0:min(b0 + 511L, m)
    z <- uy[b] * matrix(rnorm(length(b) * n), length(b), n)
    sc <- from_scatter[b]
    if (any(sc)) z[sc, ] <- z[sc, , drop = FALSE] * rep(scale, each = sum(sc))
    ys <- fo$y[b] + z
    r <- .Call(qvx_ipval_draws, curves, ys, fo$x[b], cal$interval[1], cal$interval[2],
               as.integer(ngrid), as.double(tol))
    if (r$status != 0L) {
      status_error("IPVAL", r$status, list(xmin = cal$interval[1], xmax = cal$interval[2]))
    }
    xs[b, ] <- r$x
    cnt[b, ] <- r$n_roots
  }
  pl <- (1 - level) / 2
  ph <- (1 + level) / 2
  q <- function(v, p) if (all(is.na(v))) NA_real_ else
    quantile(v, p, type = 7, na.rm = TRUE, names = FALSE)
  count <- rowSums(!is.na(xs))
  stats <- t(vapply(seq_len(m), function(i) {
    v <- xs[i, ]
    c(mean = if (count[i] > 0) mean(v, na.rm = TRUE) else NA_real_,
      sd = if (count[i] > 1) sd(v, na.rm = TRUE) else NA_real_,
      median = q(v, 0.5), low = q(v, pl), high = q(v, ph),
      se_lo = se_quantile(v, pl, count[i], q), se_hi = se_quantile(v, ph, count[i], q))
  }, numeric(7)))
  no_root <- rowMeans(cnt == 0)
  several <- rowMeans(cnt > 1)
  k <- fo$k  # t with the first order's dof where a scale was estimated, else normal
  xf <- fo$x
  uf <- fo$u_x
  d_lo <- abs(xf - k * uf - stats[, "low"])
  d_hi <- abs(xf + k * uf - stats[, "high"])
  ends_ok <- d_lo <= pmax(0.1 * uf, 4 * stats[, "se_lo"]) &
    d_hi <= pmax(0.1 * uf, 4 * stats[, "se_hi"])
  agrees <- !is.na(ends_ok) & ends_ok & no_root < 1e-3 & several < 1e-3
  notes <- character()
  for (i in which(!agrees)) {
    why <- c(if (is.na(xf[i])) "the fitted curve has no root",
             if (no_root[i] >= 1e-3) sprintf(paste("%.1f%% of draws have no root (the response",
                                                   "lies near an end of the curve's range)"), 100 * no_root[i]),
             if (several[i] >= 1e-3) sprintf(paste("%.1f%% of draws have several roots (the",
                                                   "curve is flat or turns nearby)"), 100 * several[i]),
             if (count[i] > 0 && is.finite(xf[i]) && !isTRUE(ends_ok[i]))
               sprintf("the interval [%.5g, %.5g] differs from first order [%.5g, %.5g]",
                       stats[i, "low"], stats[i, "high"], xf[i] - k[i] * uf[i], xf[i] + k[i] * uf[i]),
             if (count[i] == 0) "no draw has a root")
    notes <- c(notes, sprintf("y = %.6g: first order is not reliable: %s", fo$y[i],
                              paste(why, collapse = "; ")))
  }
  out <- data.frame(y = fo$y, u_y = fo$u_y, x = stats[, "mean"], u_x = stats[, "sd"],
                    median = stats[, "median"], low = stats[, "low"], high = stats[, "high"],
                    no_root = no_root, several_roots = several, agrees = agrees,
                    row.names = NULL)
  attr(out, "first_order") <- fo
  attr(out, "notes") <- notes
  attr(out, "n_draws") <- n
  attr(out, "coverage") <- level
  out
}

# The inversion interval of each response: the x around its first root with
# (p(x) - y)^2 <= k^2 (g(x)' C g(x) + u_y^2), the prediction band inverted
# (Fieller's construction; for a line with u(y) from the scatter the classical
# calibration interval of ISO 11843-2 and DIN 32645).  It needs no
# linearisation, so it stays honest where the curve is flat or u(x) large.  The
# connected piece that holds the root is taken; where it reaches an end of the
# curve's interval, that end bounds it ("open interval").  The ends are found
# on a grid of INVERSION_GRID cells, then by bisection to full precision, in
# blocks of 512 responses, as the Python package does.
INVERSION_GRID <- 512L
inversion_interval <- function(cal, y, x0, k, u) {
  m <- length(y)
  low <- rep(NA_real_, m)
  high <- rep(NA_real_, m)
  ok <- which(!is.na(x0) & is.finite(k))
  if (!length(ok)) return(list(low = low, high = high))
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  nc <- ncoef_of(cal)
  coef <- cal$chebyshev$coef
  cov <- cal$cov_used
  grid <- seq(lo, hi, length.out = INVERSION_GRID + 1L)
  ng <- length(grid)
  bg <- basis_rows(grid, nc, lo, hi)
  pg <- drop(bg %*% coef)
  vg <- rowSums((bg %*% cov) * bg)
  f <- function(x, y0, k2, u2) {
    g <- basis_rows(x, nc, lo, hi)
    (drop(g %*% coef) - y0)^2 - k2 * (rowSums((g %*% cov) * g) + u2)
  }
  for (start in seq(1L, length(ok), by = 512L)) {
    rows <- ok[start:min(start + 511L, length(ok))]
    y0 <- y[rows]
    k2 <- k[rows]^2
    u2 <- u[rows]^2
    xr <- x0[rows]
    outside <- outer(-y0, pg, `+`)^2 - k2 * outer(u2, vg, `+`) > 0
    # Left: the last grid point below the root outside the band; right: the
    # first one above it (0 and ng + 1 where there is none).
    nb <- findInterval(xr, grid, left.open = TRUE)  # grid points below the root
    cj <- col(outside)
    lm <- outside & cj <= nb
    rm <- outside & cj > nb
    left <- ifelse(rowSums(lm) > 0, max.col(lm * cj, ties.method = "first"), 0L)
    right <- ifelse(rowSums(rm) > 0, max.col(rm * (ng + 1L - cj), ties.method = "first"),
                    ng + 1L)
    for (side in c("low", "high")) {
      j <- if (side == "low") left else right
      inside <- if (side == "low") j < 1L else j > ng
      end <- rep(if (side == "low") lo else hi, length(rows))
      b <- which(!inside)
      if (length(b)) {
        a <- grid[j[b]]
        nxt <- grid[pmin(pmax(j[b] + (if (side == "low") 1L else -1L), 1L), ng)]
        c <- if (side == "low") pmin(nxt, xr[b]) else pmax(nxt, xr[b])
        for (it in 1:64) {
          mid <- 0.5 * (a + c)
          o <- f(mid, y0[b], k2[b], u2[b]) > 0
          a <- ifelse(o, mid, a)
          c <- ifelse(o, c, mid)
          if (all(abs(a - c) <= 4e-16 * pmax(abs(a), abs(c)))) break
        }
        end[b] <- 0.5 * (a + c)
      }
      if (side == "low") low[rows] <- end else high[rows] <- end
    }
  }
  list(low = low, high = high)
}

# Sampling error of a quantile: half the spread of the quantiles one binomial
# standard deviation of the rank either side.
se_quantile <- function(v, p, count, q) {
  d <- sqrt(p * (1 - p) / max(count, 1))
  0.5 * (q(v, min(p + d, 1)) - q(v, max(p - d, 0)))
}

# "a; b" of the texts whose conditions hold, per element.
flag_text <- function(conditions, texts) {
  out <- character(length(conditions[[1]]))
  for (i in seq_along(conditions)) {
    t <- rep_len(texts[[i]], length(out))
    hit <- conditions[[i]]
    out[hit] <- ifelse(nzchar(out[hit]), paste(out[hit], t[hit], sep = "; "), t[hit])
  }
  out
}

# Per column of roots (one column per response, NA beyond those found), the
# root nearest to `near` (NA where there is none).
nearest_root <- function(roots, near) {
  near <- rep_len(near, ncol(roots))
  best <- rep(NA_real_, ncol(roots))
  dist <- rep(Inf, ncol(roots))
  for (j in seq_len(nrow(roots))) {
    d <- abs(roots[j, ] - near)
    better <- !is.na(d) & d < dist
    best[better] <- roots[j, better]
    dist[better] <- d[better]
  }
  best
}

# The roots of y nearest x0 (NA where there is none).
roots_near <- function(cal, y, x0) nearest_root(ipval(cal, y, rep(0, length(y)))$roots, x0)

# Non-centrality delta with P(t'(dof, delta) <= t_alpha) = beta (bisection).
delta_nct <- function(dof, t_alpha, beta) {
  lo <- 0
  hi <- 2 * t_alpha + 10
  for (i in 1:200) {
    mid <- 0.5 * (lo + hi)
    below <- suppressWarnings(pt(t_alpha, dof, ncp = mid))
    if (below > beta) lo <- mid else hi <- mid
    if (hi - lo <= 1e-12 * hi) break
  }
  0.5 * (lo + hi)
}

lod <- function(cal, alpha = 0.05, beta = 0.05, blank = 0, replicates = 1, u_blank = NULL) {
  check_cal(cal)
  if (ncoef_of(cal) < 2) input_error("a constant curve (degree 0) has no detection limit")
  for (v in list(list("alpha", alpha), list("beta", beta))) {
    if (!is.numeric(v[[2]]) || length(v[[2]]) != 1L || is.na(v[[2]]) ||
        !(v[[2]] > 0 && v[[2]] < 0.5)) {
      input_error(v[[1]], " must lie strictly between 0 and 0.5")
    }
  }
  replicates <- whole_number(replicates, "replicates", 1L)
  x0 <- numeric_column(blank, "blank", 1L)
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  if (!(lo <= x0 && x0 <= hi)) {
    input_error("the blank x = ", format(x0), " lies outside the curve's interval [",
                format(lo), ", ", format(hi), "]")
  }
  coef <- cal$chebyshev$coef
  low <- cal$x == min(cal$x)
  xl <- min(cal$x)
  sd_std <- sigma_hat(cal) / cal$weights
  sigma <- cal$sres * sqrt(mean(1 / cal$weights[low]^2))
  s_low <- abs(curve_slope(coef, xl, lo, hi))
  lod <- 3.3 * sigma / s_low
  loq <- 10 * sigma / s_low
  if (!is.null(u_blank)) {
    sigma0 <- numeric_column(u_blank, "u_blank", 1L)
  } else if (any(cal$x == x0)) {
    sigma0 <- sqrt(mean(sd_std[cal$x == x0]^2))
  } else {
    sigma0 <- response_sd(cal, x0)
  }
  e <- evaluate(cal, x0, uncertainty = TRUE)
  s0 <- sqrt(e$u^2 + sigma0^2 / replicates)
  ka <- coverage_factor(cal, 1 - alpha, sided = 1)
  delta <- if (ka$distribution == "normal") {
    ka$k + coverage_factor(cal, 1 - beta, sided = 1)$k
  } else {
    delta_nct(cal$dof, ka$k, beta)
  }
  sgn <- if (curve_slope(coef, x0, lo, hi) >= 0) 1 else -1
  yc <- e$y + sgn * ka$k * s0
  yd <- e$y + sgn * delta * s0
  xs <- roots_near(cal, c(yc, yd), x0)
  structure(list(sigma = sigma, slope = s_low, lod = lod, loq = loq, blank = x0,
                 sigma_blank = sigma0, s_blank = s0, y_critical = yc, x_critical = xs[1] - x0,
                 x_detection = xs[2] - x0, k_alpha = ka$k, delta = delta, alpha = alpha,
                 beta = beta, replicates = replicates), class = "quorvex_lod")
}

print.quorvex_lod <- function(x, ...) {
  cat(sprintf("ICH:       LOD %.4g  LOQ %.4g  (sigma %.3g, slope %.4g at the lowest standard)\n",
              x$lod, x$loq, x$sigma, x$slope))
  cat(sprintf("At blank x = %g: y_C %.4g  x_C %.4g  x_D %.4g  (alpha %g, beta %g, %d replicate(s))\n",
              x$blank, x$y_critical, x$x_critical, x$x_detection, x$alpha, x$beta, x$replicates))
  invisible(x)
}
