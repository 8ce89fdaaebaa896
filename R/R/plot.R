# plot(): the standards with error bars, the curve with its confidence band,
# and the residuals below (base graphics).
plot.quorvex_cal <- function(x, level = 0.95, band = TRUE, main = NULL,
                             xlab = x$names[["x"]], ylab = x$names[["y"]], ...) {
  cal <- x
  lo <- cal$interval[1]
  hi <- cal$interval[2]
  grid <- seq(lo, hi, length.out = 201)
  e <- evaluate(cal, grid, uncertainty = TRUE)
  k <- if (cal$dof > 0 || cal$covariance == "stated") coverage_factor(cal, level)$k else NA
  old <- par(no.readonly = TRUE)
  on.exit(par(old))
  layout(matrix(1:2, 2), heights = c(3, 1.3))
  par(mar = c(0.5, 5.5, 3, 1), las = 1, mgp = c(4.2, 0.8, 0))
  uy <- if (is.null(cal$u_y)) response_sd(cal, cal$x) else cal$u_y
  lwr <- e$y - k * e$u
  upr <- e$y + k * e$u
  yr <- range(cal$y - uy, cal$y + uy, if (band && !is.na(k)) c(lwr, upr) else e$y)
  if (is.null(main)) {
    main <- sprintf("%s calibration, degree %d (%d standards)", cal$names[["y"]],
                    ncoef_of(cal) - 1L, length(cal$x))
  }
  plot(cal$x, cal$y, type = "n", xlim = c(lo, hi), ylim = yr, xaxt = "n", xlab = "",
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
  points(cal$x, cal$y, pch = 21, bg = "white")
  legend_text <- c("standards (+- u)", "curve",
                   if (band && !is.na(k)) sprintf("%g %% confidence band", 100 * level))
  graphics::legend("topleft", legend = legend_text, bty = "n",
                   pch = c(21, NA, if (band && !is.na(k)) 15),
                   lty = c(NA, 1, if (band && !is.na(k)) NA),
                   col = c("black", "steelblue4", if (band && !is.na(k)) adjustcolor("steelblue", alpha.f = 0.4)),
                   pt.cex = c(1, 1, 2))
  par(mar = c(4.5, 5.5, 0.5, 1), mgp = c(4.2, 0.8, 0))
  r <- cal$residuals
  plot(cal$x, r, xlim = c(lo, hi), ylim = range(0, r - uy, r + uy), xlab = "",
       ylab = "residual", pch = 21, bg = "white")
  mtext(xlab, side = 1, line = 2.5)
  abline(h = 0, col = "grey40", lty = 2)
  suppressWarnings(arrows(cal$x[bars], r[bars] - uy[bars], cal$x[bars], r[bars] + uy[bars],
                          angle = 90, code = 3, length = 0.03))
  invisible(cal)
}
