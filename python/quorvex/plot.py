"""The calibration as a picture: standards, curve, confidence band, samples, residuals.

matplotlib is imported only here and only when a plot is made; figures are built
with its object API (never pyplot), so no display and no global state are involved,
and are rendered by the Agg, SVG and PDF back ends on saving.
"""
from __future__ import annotations

import io
from pathlib import Path

import numpy as np

from . import _files
from .errors import InputError

FORMATS = {".png": "png", ".svg": "svg", ".pdf": "pdf"}
FIGSIZE = (7.5, 8.4)  # inches
DPI = 100             # resolution of the figure on screen
PRINT_DPI = 200       # a saved PNG is FIGSIZE * PRINT_DPI pixels: sharp at its size on a
                      # high-density screen and in print; the SVG is the vector picture
NCURVE = 401          # points on the drawn curve
MAX_LABELS = 40       # samples numbered on the plot up to this many
MAX_GUIDES = 50       # dotted read-off lines drawn up to this many samples
MAX_BARS = 300        # samples drawn with u(x) bars up to this many; more as a raster of dots
MAX_POINTS = 2000     # standards drawn as vectors up to this many; more as one raster

C_STANDARD = "#1f3b73"
C_CURVE = "#c2410c"
C_BAND = "#f59e0b"
C_SAMPLE = "#047857"
C_FLAG = "#dc2626"
C_XRES = "#7c3aed"

# Fixed SVG ids and no date, so the same calibration gives the same file.
# Text is never read as TeX: a header such as "concentration ($x^$)" is shown as written.
_RC = {"svg.hashsalt": "quorvex", "svg.fonttype": "path", "font.size": 9.0,
       "axes.titlesize": 10.0, "legend.fontsize": 7.5, "text.parse_math": False,
       "text.usetex": False}


def _xlim(cal) -> tuple[float, float]:
    # 2 % beyond the interval, so that standards at its ends are not cut by the frame.
    pad = 0.02 * (cal.xmax - cal.xmin)
    return cal.xmin - pad, cal.xmax + pad


def axis_label(name: str | None, unit: str | None, default: str) -> str:
    label = name or default
    return f"{label} ({unit})" if unit else label


def band_label(band) -> str:
    """A band's legend text: its level, kind and where its coverage factor comes from."""
    dist = band.distribution
    source = ("normal distribution" if dist == "normal" else
              f"Student's t, {dist[2:-1]} degrees of freedom" if dist.startswith("t(") else dist)
    return f"{band.level:.0%} {band.kind} band (k = {band.k:.3g}, {source})"


def band_or_none(cal, x, level: float):
    """``cal.band(x, level)``, or None where no band exists: uncertainties from the
    scatter of standards that leave no degrees of freedom to estimate it."""
    if cal.covariance == "scaled" and cal.dof == 0:
        return None
    return cal.band(x, level)


NO_BAND = "no confidence band: no degrees of freedom to estimate the scatter"


def flagged_standards(cal) -> np.ndarray:
    """True for each standard ``cal.outliers()`` flags as an outlier (a standard marked
    influential only is drawn as the others: influence alone is no fault)."""
    flagged = np.zeros(cal.n_points, dtype=bool)
    flagged[[o.index for o in cal.outliers() if o.outlier]] = True
    return flagged


def outlier_guide(cal) -> float:
    """The threshold ``cal.outliers()`` flags standards at (inf: no test possible)."""
    from . import diagnostics as D
    level = D.AcceptanceCriteria().levels(cal).get("outliers", D.FAMILY_ALPHA)
    return float(D.outlier_threshold(cal, level)[0])


def residuals(cal) -> tuple[np.ndarray, np.ndarray | None, str]:
    """The residual statistic each standard is tested for outliers with (for the
    errors-in-variables fit the combined residual of both parts), None (no separate x
    part), and the statistic's name."""
    from .diagnostics import residual_statistic
    z, name = residual_statistic(cal)
    return z, None, name


def as_prediction(cal, samples):
    """An InversePrediction from ``samples``: one already, responses, or (y, u_y)."""
    if samples is None:
        return None
    if hasattr(samples, "roots") and hasattr(samples, "u_roots"):
        return samples
    if isinstance(samples, tuple) and len(samples) == 2:
        return cal.inverse(samples[0], samples[1])
    return cal.inverse(samples)


def _log_axes(log) -> tuple[bool, bool]:
    if log is True:
        return True, True
    if not log:
        return False, False
    if log not in ("x", "y", "xy"):
        raise InputError(f"log is True, 'x', 'y' or 'xy', not {log!r}")
    return "x" in log, "y" in log


def plot(cal, samples=None, ax=None, band: float | None = 0.95, *, x_label: str | None = None,
         y_label: str | None = None, sample_names=None, title: str | None = None,
         figsize=FIGSIZE, log: bool | str = False):
    """Draw a calibration.

    Parameters
    ----------
    cal : Calibration
    samples : InversePrediction, array_like, or (y, u_y), optional
        Unknown samples to mark on the curve at every root with horizontal u(x) bars;
        responses are inverted with ``cal.inverse``.
    ax : Axes or (Axes, Axes), optional
        Draw into these: one Axes gets the curve panel only, a pair the curve panel and
        the residual panel.  Default: a new figure with both panels.
    band : float or None
        Level of the shaded confidence band of the curve (None: no band), drawn from
        ``cal.band(x, level)``: normal coverage factor with stated uncertainties,
        Student's t with ``dof`` degrees when the uncertainties come from the scatter.
    x_label, y_label : str, optional
        Axis labels (default "x" and "y").
    sample_names : sequence of str, optional
        Up to 40 samples are numbered on the plot (1, 2, ... in the order given, the
        numbers of the report's samples table) and listed by name beside it; numbers
        that would overlap are moved apart.
    title : str, optional
    figsize : (float, float)
        Size of a new figure in inches.
    log : bool or {"x", "y", "xy"}
        Logarithmic axes for the curve panel (True: both), for curves over several
        decades; points at or below 0 cannot be shown on a logarithmic axis and are
        left out of it (a note says how many).

    Returns
    -------
    matplotlib.figure.Figure
        With a ``save(path)`` method that writes PNG, SVG or PDF by the extension.

    Notes
    -----
    Top: the standards with u(x) and u(y) error bars, the curve over its interval,
    the band, the samples.  A new figure has a middle panel that magnifies the band:
    y - p(x) for each standard with its uncertainty (sqrt(u_y**2 + (p'(x) u_x)**2) for
    the errors-in-variables fit) and the band around 0.  Bottom: the residuals the
    outlier test uses (:func:`quorvex.diagnostics.residual_statistic`: normalized with
    stated uncertainties, studentized when they come from the scatter; for the
    errors-in-variables fit the combined residual of the x and y parts) with guide lines at the outlier test's
    threshold; the standards ``cal.outliers()`` flags in red.
    """
    from matplotlib import rc_context
    from matplotlib.figure import Figure

    pred = as_prediction(cal, samples)
    flags = flagged_standards(cal)
    logx, logy = _log_axes(log)
    with rc_context(_RC):
        middle = None
        if ax is None:
            fig = Figure(figsize=figsize, dpi=DPI, layout="constrained")
            top, middle, bottom = fig.subplots(
                3, 1, sharex=True, gridspec_kw={"height_ratios": [3, 1.35, 1.2]})
        elif isinstance(ax, (tuple, list)):
            top, bottom = ax
            fig = top.figure
        else:
            top, bottom = ax, None
            fig = ax.figure
        xl = x_label or "x"
        yl = y_label or "y"
        _curve_panel(top, cal, pred, band, flags, xl, yl, sample_names)
        if logx or logy:
            _set_log(fig, top, cal, logx, logy, middle, bottom)
        if title:
            top.set_title(title)
        numbers = getattr(top, "_quorvex_numbers", None)
        if middle is not None:
            _deviation_panel(middle, cal, band, flags, xl, yl)
        if bottom is not None:
            _residual_panel(bottom, cal, flags, xl)
        for a in (top, middle):
            if a is not None and bottom is not None:
                a.set_xlabel("")
                a.tick_params(labelbottom=False)
        if numbers is not None:
            engine = fig.get_layout_engine()
            if engine is not None:
                # The final layout, so that positions hold: worked out from the extents
                # of the texts alone, without drawing the figure
                engine.execute(fig)
            else:
                fig.draw_without_rendering()
            _number_samples(top, *numbers)
    fig.save = lambda path, dpi=None: save(fig, path, dpi=dpi)
    return fig


def _set_log(fig, top, cal, logx, logy, middle, bottom):
    x, y = np.asarray(cal.x), np.asarray(cal.y)
    left_out = int(np.sum((x <= 0) if logx else False) + np.sum((y <= 0) if logy else False))
    if logx:
        pos = x[x > 0]
        lo = (pos.min() if pos.size else max(cal.xmax, 1.0) * 1e-3) / 1.3
        hi = cal.xmax * 1.1 if cal.xmax > 0 else 1.0
        for a in (top, middle, bottom):
            if a is not None:
                a.set_xscale("log")
                a.set_xlim(lo, hi)
    if logy:
        top.set_yscale("log", nonpositive="mask")
        pos = y[y > 0]
        if pos.size:
            top.set_ylim(pos.min() / 1.5, pos.max() * 1.5)
    if left_out:
        top.text(0.01, 0.01, f"{left_out} value(s) at or below 0 not on the logarithmic axis",
                 transform=top.transAxes, fontsize=7, color="0.35", va="bottom")


def _curve_panel(ax, cal, pred, level, flags, x_label, y_label, names):
    xs = np.linspace(cal.xmin, cal.xmax, NCURVE)
    b = band_or_none(cal, xs, level) if level else None
    if b is not None:
        ax.fill_between(xs, b.lower, b.upper, color=C_BAND, alpha=0.45, lw=0,
                        label=band_label(b), zorder=1)
    ys = np.asarray(cal.evaluate(xs))
    from .curve import fit_kind
    kind = fit_kind(cal).split(" (")[0]
    ax.plot(xs, ys, color=C_CURVE, lw=1.6, label=f"curve, degree {cal.degree} ({kind})",
            zorder=2)
    x, y = np.asarray(cal.x), np.asarray(cal.y)
    flagged = flags
    stated = cal.u_x is not None or cal.u_y is not None
    for sel, style in ((~flagged, dict(fmt="o", color=C_STANDARD,
                                       label="standards ± u" if stated else "standards")),
                       (flagged, dict(fmt="s", color=C_FLAG, mfc="white",
                                      label="flagged standards"))):
        if not sel.any():
            continue
        if sel.sum() > MAX_POINTS:
            # Many standards: one embedded bitmap of dots, not a vector file of megabytes
            ax.plot(x[sel], y[sel], style["fmt"], color=style["color"], ms=2.0, alpha=0.5,
                    zorder=3, rasterized=True,
                    label=f"{int(sel.sum())} {style['label']} (drawn as a raster)")
            continue
        ax.errorbar(x[sel], y[sel],
                    xerr=None if cal.u_x is None else np.asarray(cal.u_x)[sel],
                    yerr=None if cal.u_y is None else np.asarray(cal.u_y)[sel],
                    ms=4.5, lw=1.0, capsize=2.0, zorder=3, **style)
    excluded = getattr(cal, "excluded", ()) or ()
    if excluded:  # left out on purpose: hollow, so that they are seen but not fitted
        ax.plot([e["x"] for e in excluded], [e["y"] for e in excluded], "o", ms=6.0,
                mfc="none", mec=C_STANDARD, mew=1.2, zorder=3,
                label="excluded standards (not fitted)")
    if pred is not None:
        _samples(ax, cal, pred, names)
    lo, hi = _xlim(cal)
    if excluded:
        ex = [e["x"] for e in excluded]
        pad = 0.03 * (max(hi, *ex) - min(lo, *ex))
        lo, hi = min(lo, min(ex) - pad), max(hi, max(ex) + pad)
    ax.set_xlim(lo, hi)
    ax.set_xlabel(x_label)
    ax.set_ylabel(y_label)
    ax.grid(True, lw=0.4, alpha=0.5)
    ax.legend(loc="best", frameon=True, framealpha=0.85)


def _samples(ax, cal, pred, names):
    roots, u_roots = np.asarray(pred.roots), np.asarray(pred.u_roots)
    y = np.asarray(pred.y)
    have = ~np.isnan(roots)
    if not have.any():
        return
    yy = np.broadcast_to(y[:, None], roots.shape)
    xr, yr, ur = roots[have], yy[have], u_roots[have]
    if xr.size <= MAX_GUIDES:
        ax.hlines(yr, cal.xmin, xr, colors=C_SAMPLE, linestyles=":", lw=0.8, zorder=2)
    if xr.size <= MAX_BARS:
        ax.errorbar(xr, yr, xerr=np.where(np.isfinite(ur), ur, 0.0), fmt="D", color=C_SAMPLE,
                    ms=5.0, lw=1.4, capsize=3.5, zorder=4, label="samples: x ± u(x)")
    else:
        # Thousands of markers would make a vector file of many megabytes: draw them as
        # one embedded bitmap, and their uncertainties only in the tables.
        ax.plot(xr, yr, "D", color=C_SAMPLE, ms=2.0, alpha=0.5, zorder=4, rasterized=True,
                label=f"{xr.size} samples")
    if names is not None and len(names) == len(y) and len(y) <= MAX_LABELS:
        fontsize = 7.0
        text = "\n".join(f"{i + 1}  {names[i]}" for i in range(len(y)) if have[i].any())
        ax.text(1.01, 1.0, "samples\n" + text, transform=ax.transAxes, fontsize=fontsize,
                va="top", ha="left", color=C_SAMPLE, clip_on=False)
        # numbered once the layout is known (see plot)
        ax._quorvex_numbers = (roots, y, have)


def spread(positions, gap: float) -> np.ndarray:
    """Positions moved apart as little as possible so that neighbours are at least
    ``gap`` apart (order kept): clusters are centred on their mean."""
    p = np.asarray(positions, dtype=float)
    order = np.argsort(p, kind="stable")
    q = p[order].copy()
    # Merge clusters until no two adjacent labels are closer than gap.
    groups = [[k] for k in range(len(q))]
    centres = list(q)
    changed = True
    while changed:
        changed = False
        out_g, out_c = [], []
        for g, c in zip(groups, centres):
            if out_g:
                pg, pc = out_g[-1], out_c[-1]
                top_prev = pc + (len(pg) - 1) * gap / 2
                bottom_this = c - (len(g) - 1) * gap / 2
                if bottom_this - top_prev < gap:
                    merged = pg + g
                    out_g[-1] = merged
                    out_c[-1] = float(np.mean(q[merged]))
                    changed = True
                    continue
            out_g.append(g)
            out_c.append(c)
        groups, centres = out_g, out_c
    res = np.empty_like(q)
    for g, c in zip(groups, centres):
        start = c - (len(g) - 1) * gap / 2
        for j, k in enumerate(g):
            res[k] = start + j * gap
    out = np.empty_like(res)
    out[order] = res
    return out


def _number_samples(ax, roots, y, have):
    """Each sample's number beside its marker, the numbers of markers close in x moved
    apart vertically so that none overlaps another (offsets in points, so they hold
    whatever the final size)."""
    fig = ax.figure
    pts = [(i, roots[i, j], y[i]) for i in range(len(y)) for j in np.flatnonzero(have[i])]
    if not pts:
        return
    disp = ax.transData.transform([(px, py) for _, px, py in pts])
    fontsize = 7.0
    px_per_pt = fig.dpi / 72.0
    gap = fontsize * 1.3 * px_per_pt          # one line of text, in pixels
    colw = 3.5 * fontsize * px_per_pt          # labels closer than this in x share a column
    xs = disp[:, 0]
    order = np.argsort(xs, kind="stable")
    columns, current = [], [order[0]]
    for k in order[1:]:
        if xs[k] - xs[current[0]] < colw:
            current.append(k)
        else:
            columns.append(current)
            current = [k]
    columns.append(current)
    for col in columns:
        want = disp[col, 1] - gap * 0.8  # just below the marker
        got = spread(want, gap)
        x0 = max(disp[k, 0] for k in col) + 5 * px_per_pt
        for k, ly in zip(col, got):
            i, px, py = pts[k]
            dx = (x0 - disp[k, 0]) / px_per_pt
            dy = (ly - disp[k, 1]) / px_per_pt
            moved = abs(ly - want[list(col).index(k)]) > gap * 0.5 or len(col) > 1
            ax.annotate(str(i + 1), (px, py), xytext=(dx, dy), textcoords="offset points",
                        fontsize=fontsize, color=C_SAMPLE, va="center", ha="left",
                        arrowprops=dict(arrowstyle="-", color=C_SAMPLE, lw=0.4, alpha=0.6,
                                        shrinkA=0, shrinkB=2) if moved else None)


def _deviation_panel(ax, cal, level, flags, x_label, y_label):
    xs = np.linspace(cal.xmin, cal.xmax, NCURVE)
    ax.axhline(0.0, color=C_CURVE, lw=1.2)
    b = band_or_none(cal, xs, level) if level else None
    if b is not None:
        ax.fill_between(xs, b.lower - b.y, b.upper - b.y, color=C_BAND, alpha=0.45, lw=0)
    x, y = np.asarray(cal.x), np.asarray(cal.y)
    dev = y - np.asarray(cal.evaluate(x))
    u = None if cal.u_y is None else np.asarray(cal.u_y)
    if cal.u_x is not None:
        from . import _lab_curve as LC
        from .curve import at
        s = at(cal, x, LC.SLOPE)[1]
        u = np.hypot(u, s * np.asarray(cal.u_x))
    flagged = flags
    for sel, style in ((~flagged, dict(fmt="o", color=C_STANDARD)),
                       (flagged, dict(fmt="s", color=C_FLAG, mfc="white"))):
        if sel.sum() > MAX_POINTS:  # many standards: dots in one bitmap, no bars
            ax.plot(x[sel], dev[sel], style["fmt"], color=style["color"], ms=2.0, alpha=0.5,
                    zorder=3, rasterized=True)
        elif sel.any():
            ax.errorbar(x[sel], dev[sel], yerr=None if u is None else u[sel], ms=4.0, lw=1.0,
                        capsize=2.0, zorder=3, **style)
    ax.set_xlim(*_xlim(cal))
    ax.set_xlabel(x_label)
    ax.set_ylabel(f"{y_label} − curve" if len(y_label) <= 14 else "y − curve")
    ax.grid(True, lw=0.4, alpha=0.5)


def _residual_panel(ax, cal, flags, x_label):
    ry, rx, label = residuals(cal)
    guide = outlier_guide(cal)  # the outlier test's threshold
    x = np.asarray(cal.x)
    flagged = flags
    ax.axhline(0.0, color="0.3", lw=0.8)
    for g in ((-guide, guide) if np.isfinite(guide) else ()):
        ax.axhline(g, color="0.45", lw=0.8, ls="--")
    many = cal.n_points > MAX_POINTS  # one embedded bitmap, not a vector file of megabytes
    ax.scatter(x[~flagged], ry[~flagged], s=4 if many else 16, color=C_STANDARD, zorder=3,
               label="y residual" if rx is not None else None, rasterized=many)
    if rx is not None:
        ax.scatter(x[~flagged], rx[~flagged], s=4 if many else 18, marker="^", color=C_XRES,
                   zorder=3, label="x residual", rasterized=many)
    if flagged.any():
        ax.scatter(x[flagged], ry[flagged], s=26, marker="s", facecolors="white",
                   edgecolors=C_FLAG, zorder=4, label="flagged")
        if rx is not None:
            ax.scatter(x[flagged], rx[flagged], s=26, marker="^", facecolors="white",
                       edgecolors=C_FLAG, zorder=4)
    top = max([(guide if np.isfinite(guide) else 3.0) + 1.0] +
              [1.15 * float(np.abs(r[np.isfinite(r)]).max())
               for r in (ry, rx) if r is not None and np.isfinite(r).any()])
    ax.set_ylim(-top, top)
    ax.set_xlim(*_xlim(cal))
    ax.set_xlabel(x_label)
    ax.set_ylabel(label)
    ax.grid(True, lw=0.4, alpha=0.5)
    if rx is not None or flagged.any():
        ax.legend(loc="upper right", ncol=3, frameon=True, framealpha=0.85)


def render(fig, fmt: str, dpi: int | None = None) -> bytes:
    """The figure as PNG, SVG or PDF bytes (no creation date, fixed SVG ids)."""
    from matplotlib import rc_context
    if fmt not in FORMATS.values():
        raise InputError(f"a picture can be PNG, SVG or PDF, not {fmt!r}")
    if dpi is None:
        dpi = PRINT_DPI if fmt == "png" else DPI
    if fmt == "png":
        return _render_png(fig, dpi)
    buf = io.BytesIO()
    meta = {"svg": {"Date": None, "Creator": None},
            "pdf": {"CreationDate": None, "Creator": None, "Producer": None}}[fmt]
    with rc_context(_RC):
        fig.savefig(buf, format=fmt, dpi=dpi, metadata=meta)
    return buf.getvalue()


def keep_layout(fig) -> None:
    """Work out the figure's layout once and keep it for every drawing that follows.

    The constrained layout is otherwise worked out anew on every save, from the
    extents of all texts, which costs as much as the drawing itself.  The panels and
    texts of a finished figure do not change, and their layout differs between
    resolutions only by the rounding of text extents to whole pixels (at most 0.02
    inch), so the SVG, the PNG and the PDF of one figure can share it."""
    engine = fig.get_layout_engine()
    if engine is None or type(engine).__name__ == "PlaceHolderLayoutEngine":
        return
    # Laid out again where plot did so to number the samples: the numbers count now.
    engine.execute(fig)
    fig.set_layout_engine("none")


def _render_png(fig, dpi: float) -> bytes:
    """The figure drawn by Agg at ``dpi`` and encoded here: the same pixels savefig
    would write, without the image library's slower adaptive filtering."""
    from matplotlib import rc_context
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    old_dpi, old_canvas = fig.dpi, fig.canvas
    canvas = FigureCanvasAgg(fig)  # takes the figure over, so that a window it is shown
    try:                           # in is not resized by the change of resolution
        with rc_context(_RC):
            fig.dpi = dpi
            canvas.draw()
            rgba = np.asarray(canvas.buffer_rgba())
    finally:
        fig.dpi = old_dpi
        fig.set_canvas(old_canvas)
    return png_bytes(rgba, dpi)


def png_bytes(rgba: np.ndarray, dpi: float | None = None) -> bytes:
    """A PNG file of an (h, w, 4) uint8 RGBA image: RGB when every pixel is opaque,
    each row stored as its difference to the row above (PNG filter 2, which the
    horizontal and vertical lines and flat areas of a plot compress best with), the
    resolution in a pHYs chunk; no time or software text, so that the same image
    gives the same file."""
    import struct
    import zlib
    img = np.ascontiguousarray(rgba, dtype=np.uint8)
    h, w, _ = img.shape
    if (img[:, :, 3] == 255).all():
        img = np.ascontiguousarray(img[:, :, :3])
    colour = 6 if img.shape[2] == 4 else 2
    up = img.copy()
    up[1:] -= img[:-1]  # uint8 arithmetic wraps modulo 256, as the filter wants
    rows = np.empty((h, 1 + w * img.shape[2]), dtype=np.uint8)
    rows[:, 0] = 2
    rows[:, 1:] = up.reshape(h, -1)

    def chunk(kind: bytes, data: bytes) -> bytes:
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    out = [b"\x89PNG\r\n\x1a\n",
           chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, colour, 0, 0, 0))]
    if dpi:
        ppm = int(round(dpi / 0.0254))
        out.append(chunk(b"pHYs", struct.pack(">IIB", ppm, ppm, 1)))
    out.append(chunk(b"IDAT", zlib.compress(rows.tobytes(), 6)))
    out.append(chunk(b"IEND", b""))
    return b"".join(out)


def save(fig, path, dpi: int | None = None) -> Path:
    """Write the figure to ``path`` as PNG (at 200 dpi unless ``dpi`` says otherwise),
    SVG or PDF, chosen by its extension; the file appears whole or not at all."""
    path = Path(path)
    fmt = FORMATS.get(path.suffix.lower())
    if fmt is None:
        raise InputError(f"{path.name}: a picture is saved as .png, .svg or .pdf, not "
                         f"{path.suffix or 'a name without extension'!r}")
    return _files.write(path, render(fig, fmt, dpi))
