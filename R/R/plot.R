# plot(): the standards with error bars, the curve with its confidence band,
# and the residuals below (base graphics).
plot.quorvex_cal <- function(x, level = 0.95, band = TRUE, main = NULL,
                             xlab = x$names[["x"]], ylab = x$names[["y"]], ...) {
  cal <- x
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  grid <- seq(lo, hi, length.out = 201)
  # The confidence band where there is one (the library's QVXL_BAND).
  e <- if (cal$dof > 0 || cal$covariance == "stated") {
    coverage_factor(cal, level)  # R's message for a bad level
    lab_band(cal, grid, level, "confidence")
  } else list(y = evaluate(cal, grid), k = NA, lower = NA, upper = NA)
  k <- e$k
  old <- par(no.readonly = TRUE)
  on.exit(par(old))
  layout(matrix(1:2, 2), heights = c(3, 1.3))
  par(mar = c(0.5, 5.5, 3, 1), las = 1, mgp = c(4.2, 0.8, 0))
  uy <- if (is.null(cal$u_y)) response_sd(cal, cal$x) else cal$u_y
  lwr <- e$lower
  upr <- e$upper
  ex <- excluded_points(cal)
  yr <- range(cal$y - uy, cal$y + uy, if (band && !is.na(k)) c(lwr, upr) else e$y, ex$y)
  if (is.null(main)) {
    main <- sprintf("%s calibration, degree %d (%d standards%s)", cal$names[["y"]],
                    ncoef_of(cal) - 1L, length(cal$x),
                    if (length(cal$excluded)) sprintf(", %d left out", length(cal$excluded)) else "")
  }
  plot(cal$x, cal$y, type = "n", xlim = range(lo, hi, ex$x), ylim = yr, xaxt = "n", xlab = "",
       ylab = ylab, main = main, ...)
  if (band && !is.na(k)) {
    polygon(c(grid, rev(grid)), c(lwr, rev(upr)), border = NA,
            col = adjustcolor("steelblue", alpha.f = 0.25))
  }
  lines(grid, e$y, col = "steelblue4", lwd = 2)
  bars <- which(uy > 0)
  suppressWarnings(arrows(cal$x[bars], cal$y[bars] - uy[bars], cal$x[bars],
                          cal$y[bars] + uy[bars], angle = 90, code = 3, length = 0.03))
  if (!is.null(cal$u_x)) {
    suppressWarnings(arrows(cal$x - cal$u_x, cal$y, cal$x + cal$u_x, cal$y, angle = 90,
                            code = 3, length = 0.03))
  }
  points(cal$x, cal$y, pch = 21, bg = "grey20")
  ex <- excluded_points(cal)
  # Standards left out of the fit: hollow, where they are.
  if (length(ex$x)) points(ex$x, ex$y, pch = 21, bg = "white", cex = 1.2)
  has_band <- band && !is.na(k)
  legend_text <- c("standards (+- u)", if (length(ex$x)) "left out of the fit", "curve",
                   if (has_band) sprintf("%g %% confidence band", 100 * level))
  graphics::legend("topleft", legend = legend_text, bty = "n",
                   pch = c(21, if (length(ex$x)) 21, NA, if (has_band) 15),
                   pt.bg = c("grey20", if (length(ex$x)) "white", NA, if (has_band) NA),
                   lty = c(NA, if (length(ex$x)) NA, 1, if (has_band) NA),
                   col = c("black", if (length(ex$x)) "black", "steelblue4",
                           if (has_band) adjustcolor("steelblue", alpha.f = 0.4)),
                   pt.cex = c(1, if (length(ex$x)) 1.2, 1, 2))
  par(mar = c(4.5, 5.5, 0.5, 1), mgp = c(4.2, 0.8, 0))
  r <- cal$residuals
  # The left-out standards' residuals from the curve fitted without them
  # (where they lie inside its interval).
  inside <- ex$x >= lo & ex$x <= hi
  rex <- if (any(inside)) ex$y[inside] - evaluate(cal, ex$x[inside]) else numeric()
  plot(cal$x, r, xlim = range(lo, hi, ex$x), ylim = range(0, r - uy, r + uy, rex), xlab = "",
       ylab = "residual", pch = 21, bg = "grey20")
  if (length(rex)) points(ex$x[inside], rex, pch = 21, bg = "white", cex = 1.2)
  mtext(xlab, side = 1, line = 2.5)
  abline(h = 0, col = "grey40", lty = 2)
  suppressWarnings(arrows(cal$x[bars], r[bars] - uy[bars], cal$x[bars], r[bars] + uy[bars],
                          angle = 90, code = 3, length = 0.03))
  invisible(cal)
}

excluded_points <- function(cal) {
  list(x = vapply(cal$excluded, function(e) e$x, 0), y = vapply(cal$excluded, function(e) e$y, 0))
}
