"""Reading standards and samples from CSV files as instruments and spreadsheets export them.

The file is decoded (UTF-8 with or without a byte-order mark, UTF-16 with one, else
Windows-1252), its separator is chosen from the header line (the one of ``,``, ``;``
and tab that splits it into the most fields), and Python's :mod:`csv` module reads
it.  Cells are numbers with a decimal point, or with a decimal comma when the
separator is not a comma.  Columns are found by header name, ignoring case and a
unit written after the name in parentheses or brackets ("concentration (mg/L)").
Every refusal is a :class:`~quorvex.errors.InputError` whose one-line message names
the file, and where it applies the row (the file's line number, as a spreadsheet
numbers it) and the column.
"""
from __future__ import annotations

import csv
import hashlib
import io
import re
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from .errors import InputError

DELIMITERS = (",", ";", "\t")
MAX_BYTES = 128 * 1024 * 1024  # a file larger than this is refused (it is not a table of
                               # standards or samples a report can hold)
MAX_LINE = 1024 * 1024         # characters in one line, likewise
MAX_ROWS = 200_000             # data rows of one file (samples; the standards have their own
                               # bound, quorvex.cli.MAX_STANDARDS): a run's peak memory stays
                               # below 2 GB (docs/reliability.md)
_DELIMITER_NAMES = {",": "comma", ";": "semicolon", "\t": "tab"}
# A unit after the name: in parentheses after a space ("Area (mAU*s)"), in brackets with
# or without one ("Conc [ ug/L ]", "Conc[ppb]").  A parenthesis that follows the name
# directly, as in "u(x)", is part of the name.
_UNIT = re.compile(r"^(?P<name>.*?\S)(?:\s+[\(\[]|\[)(?P<unit>[^\(\)\[\]]*)[\)\]]\s*$")
_NUMBER = re.compile(r"^[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?$")
_COMMA_NUMBER = re.compile(r"^[+-]?(?:\d+(?:,\d*)?|,\d+)(?:[eE][+-]?\d+)?$")

# Header names tried, in this order, when a column is not given (compared after
# normalize()).  An uncertainty column is also found by the name of its value column:
# u_<name>, u(<name>), u <name>, <name>_u, s_<name>, sd_<name>.
DEFAULT_NAMES = {
    "x": ("x", "concentration", "conc", "amount", "dose", "mass", "nominal", "known", "standard",
          "level", "c", "konzentration", "konz", "gehalt", "menge", "sollwert"),
    "y": ("y", "response", "signal", "absorbance", "abs", "area", "height", "intensity",
          "reading", "counts", "peak_area", "peak_height", "cps", "fläche", "flaeche",
          "peakfläche", "peakflaeche", "höhe", "hoehe", "intensität", "intensitaet",
          "extinktion", "messwert", "fluorescence", "fluoreszenz"),
    "u_x": ("u_x", "ux", "u(x)", "sigma_x", "sx", "s_x", "sd_x"),
    "u_y": ("u_y", "uy", "u(y)", "sigma_y", "sy", "s_y", "sd_y"),
    "name": ("sample", "sample_name", "sample_id", "samplename", "sampleid", "name", "id",
             "sample_no", "sample_number", "probe", "probenname", "proben_name", "probe_id",
             "proben_id", "probenbezeichnung", "bezeichnung", "label", "identifier",
             "vial", "lims_id"),
}
_UNCERTAINTY_FORMS = ("u_{}", "u({})", "u_({})", "{}_u", "s_{}", "sd_{}", "sigma_{}")

# Where no header is one of those names, x and y are found by a word in the header, as
# instruments export them ("Pb 208 Conc [ ug/L ]", "Peak Area (mAU*s)", "Konz. (µg/L)"):
# a header whose words hold a word of one role, none of the other's and none that marks
# another kind of column (an uncertainty, a time, a type, a ratio...).  Two such headers
# for one role are ambiguous: the column must then be named.  The table of recognised
# headers is in docs/guide/command-line.md.
KEYWORDS = {
    "x": ("conc", "concentration", "amount", "nominal", "dose", "spike", "expected",
          "konz", "konzentration", "gehalt", "menge", "sollwert", "sollkonzentration",
          "massenkonzentration"),
    "y": ("area", "height", "response", "signal", "intensity", "cps", "counts", "absorbance",
          "abs", "fluorescence", "reading", "fläche", "flaeche", "peakfläche", "peakflaeche",
          "höhe", "hoehe", "intensität", "intensitaet", "extinktion", "absorption",
          "messwert", "fluoreszenz", "zählrate", "zaehlrate"),
}
NOT_A_VALUE = frozenset((
    "u", "s", "sd", "sigma", "rsd", "stdev", "stddev", "stabw", "unc", "uncertainty",
    "unsicherheit", "error", "fehler", "cv", "vk", "rt", "retention", "time", "zeit", "type",
    "typ", "art", "flag", "flags", "ratio", "verhältnis", "dilution", "verdünnung",
    "factor", "faktor", "id", "name", "nr", "no", "number", "%", "percent", "recovery",
    "wiederfindung", "date", "datum", "calculated", "berechnet", "found", "gefunden"))


def normalize(header: str) -> str:
    """A header name as columns are matched: without its unit and a closing full stop
    ("Konz."), lower case, runs of spaces and hyphens as one underscore."""
    name = split_unit(header)[0].strip().rstrip(".").strip()
    return re.sub(r"[\s\-]+", "_", name.lower())


def words(header: str) -> list:
    """The words of a header without its unit, lower case: letters and digits, with
    "%" as a word of its own."""
    name = split_unit(header)[0].lower()
    return re.findall(r"%|[^\W_]+", name)


def keyword_role(header: str) -> str | None:
    """"x" or "y" where the header's words say so (``KEYWORDS``), else None."""
    w = set(words(header))
    if w & NOT_A_VALUE:
        return None
    roles = [r for r, keys in KEYWORDS.items() if w & set(keys)]
    return roles[0] if len(roles) == 1 else None


def split_unit(header: str) -> tuple[str, str | None]:
    """("concentration", "mg/L") from "concentration (mg/L)"; (header, None) without a
    unit.  A bracket that follows the name directly, as in "u(x)", is part of the name."""
    m = _UNIT.match(header.strip())
    if m:
        return m.group("name"), m.group("unit").strip() or None
    return header.strip(), None


@dataclass(frozen=True)
class Table:
    """A CSV file as text cells: ``header``, ``rows`` (lists of str, each as long as
    the header) and ``lines`` (the file's line number of each row)."""

    path: str
    header: list
    rows: list
    lines: list
    delimiter: str
    decimal: str
    sha256: str = ""  # of the bytes the table was parsed from

    @property
    def label(self) -> str:
        return Path(self.path).name

    def columns_text(self) -> str:
        return ", ".join(repr(h) for h in self.header)

    def find(self, role: str, given: str | None = None, prefer=(), required: bool = True,
             value_column: str | None = None) -> int | None:
        """Index of the column for ``role`` ("x", "y", "u_x", "u_y", "name").

        ``given`` is a header name (matched like defaults, unit ignored) or a 1-based
        column number; otherwise the names in ``prefer``, the forms built from
        ``value_column`` (for uncertainties), then ``DEFAULT_NAMES[role]`` are tried.
        A missing required column raises an InputError naming the columns there are.
        """
        norm = [normalize(h) for h in self.header]
        if given is not None:
            key = normalize(given)
            if key in norm:
                return norm.index(key)
            if given.strip().isdigit() and 1 <= int(given) <= len(self.header):
                return int(given) - 1
            raise InputError(f"{self.label}: no column {given!r}; the columns are "
                             f"{self.columns_text()}")
        candidates = [normalize(p) for p in prefer if p]
        if value_column is not None:
            base = normalize(value_column)
            candidates += [f.format(base) for f in _UNCERTAINTY_FORMS]
        candidates += list(DEFAULT_NAMES[role])
        for c in candidates:
            if c in norm:
                return norm.index(c)
        option = {"x": "--x", "y": "--y", "u_x": "--ux", "u_y": "--uy", "name": "--name"}[role]
        if role in KEYWORDS:
            hits = [k for k, h in enumerate(self.header) if keyword_role(h) == role]
            if len(hits) == 1:
                return hits[0]
            if len(hits) > 1:
                raise InputError(f"{self.label}: several columns could hold {role}: "
                                 f"{', '.join(repr(self.header[k]) for k in hits)}; name one "
                                 f"with {option}")
        if not required:
            return None
        raise InputError(f"{self.label}: no {role} column (tried {', '.join(candidates[:6])}"
                         f"{', ...' if len(candidates) > 6 else ''}); the columns are "
                         f"{self.columns_text()}: name one with {option}")

    def numbers(self, index: int, positive: bool = False) -> np.ndarray:
        """The column as float64; a cell that is empty, not a number, not finite, or
        (``positive``) not above 0 raises an InputError naming its row and column."""
        out = np.empty(len(self.rows))
        column = self.header[index]
        for k, (row, line) in enumerate(zip(self.rows, self.lines)):
            cell = row[index].strip()
            where = f"{self.label}: row {line}, column {column!r}"
            if not cell:
                raise InputError(f"{where}: the cell is empty")
            value = parse_number(cell, self.decimal)
            if value is None:
                raise InputError(f"{where}: {cell!r} is not a number")
            if not np.isfinite(value):
                raise InputError(f"{where}: {cell!r} is not a finite number")
            if positive and not value > 0:
                raise InputError(f"{where}: the uncertainty {cell} is not positive")
            out[k] = value
        return out

    def texts(self, index: int) -> list:
        return [row[index].strip() for row in self.rows]


def parse_number(cell: str, decimal: str = ".") -> float | None:
    """The number in ``cell``, or None.  With ``decimal=","`` a decimal comma is read
    (a decimal point too); underscores, thousands separators, "nan" and "inf" are not
    numbers here."""
    if _NUMBER.match(cell):
        return float(cell)
    if decimal == "," and _COMMA_NUMBER.match(cell):
        return float(cell.replace(",", "."))
    return None


def decode(data: bytes, label: str) -> str:
    """Text of a file's bytes; refuses binary data."""
    if data.startswith((b"\xff\xfe", b"\xfe\xff")):
        try:
            text = data.decode("utf-16")
        except UnicodeDecodeError:
            raise InputError(f"{label} is not a text file (invalid UTF-16)") from None
    else:
        if data.startswith((b"PK\x03\x04", b"\xd0\xcf\x11\xe0")):
            raise InputError(f"{label} is not a text file but looks like a spreadsheet "
                             "workbook: save the sheet as CSV")
        if b"\x00" in data:
            raise InputError(f"{label} is not a text file (it holds NUL bytes)")
        try:
            text = data.decode("utf-8-sig")
        except UnicodeDecodeError:
            try:
                text = data.decode("cp1252")
            except UnicodeDecodeError:
                raise InputError(f"{label} is not a text file (neither UTF-8 nor "
                                 "Windows-1252)") from None
    bad = re.search(r"[\x00-\x08\x0b\x0e-\x1f\x7f]", text)
    if bad:
        raise InputError(f"{label} is not a text file (control character "
                         f"{bad.group()!r} at character {bad.start()})")
    return text


def _choose_delimiter(first_line: str) -> str:
    counts = {d: len(next(csv.reader([first_line], delimiter=d))) for d in DELIMITERS}
    best = max(DELIMITERS, key=lambda d: (counts[d], -DELIMITERS.index(d)))
    return best if counts[best] > 1 else ","


def _size(n: int) -> str:
    return f"{n // (1024 * 1024)} MiB" if n >= 1024 * 1024 else f"{n} bytes"


def read_table(path, delimiter: str | None = None, decimal: str | None = None,
               encoding: str | None = None, max_bytes: int = MAX_BYTES,
               max_line: int = MAX_LINE, max_rows: int = MAX_ROWS,
               rows_advice: str = "give at most {max_rows} per file (split it)") -> Table:
    """Read a CSV file with a header line.

    Parameters
    ----------
    path : str or Path
    delimiter : {",", ";", "\\t"}, optional
        Default: chosen from the header line.
    decimal : {".", ","}, optional
        Default: "," when the separator is not a comma and a cell holds a decimal
        comma, else ".".
    encoding : str, optional
        Default: UTF-8 (byte-order mark allowed), UTF-16 with a byte-order mark, else
        Windows-1252.

    max_bytes, max_line, max_rows : int
        Larger files, longer lines and more data rows are refused with an InputError
        (before the whole of a larger file is read, and before its rows are split).

    The file is read once: the table's ``sha256`` is that of the bytes parsed.

    Leading lines that start with "#" and empty lines are skipped, and a line
    "sep=;" before the header names the separator.  Every row must have
    as many cells as the header (trailing empty cells may be missing).

    Raises
    ------
    InputError
        An empty file, one that is not text, one without data rows, a row with more
        cells than the header, or a delimiter/decimal that cannot work together.
    OSError
        The file cannot be read.
    """
    label = Path(path).name
    with open(path, "rb") as f:
        data = f.read(max_bytes + 1)
    if len(data) > max_bytes:
        raise InputError(f"{label} is larger than {_size(max_bytes)}: not a table of "
                         "standards or samples; give the right file, or split it")
    if not data.strip():
        raise InputError(f"{label} is empty")
    # Blank lines and a preamble of comments aside, a line is a row: a file with far more
    # lines than rows allowed is refused before it is split.
    if data.count(b"\n") > 2 * max_rows + 10_000:
        raise InputError(f"{label} has more than {max_rows} rows; "
                         + rows_advice.format(max_rows=max_rows))
    digest = hashlib.sha256(data).hexdigest()
    if encoding is None:
        text = decode(data, label)
    else:
        try:
            text = data.decode(encoding)
        except (UnicodeDecodeError, LookupError) as e:
            raise InputError(f"{label} cannot be read as {encoding}: {e}") from None
    if csv.field_size_limit() < max_line:  # a field may be as long as a line
        csv.field_size_limit(max_line)
    lines = text.splitlines()
    for k, line in enumerate(lines):
        if len(line) > max_line:
            raise InputError(f"{label}: line {k + 1} is longer than {_size(max_line)} "
                             f"({len(line)} characters): not a table of standards or "
                             "samples; give the right file")
    start = 0
    while start < len(lines) and (not lines[start].strip()
                                  or lines[start].lstrip().startswith("#")):
        start += 1
    if start == len(lines):
        raise InputError(f"{label} holds no header line (only comments or blank lines)")
    # A spreadsheet may name the separator on a first line of its own: "sep=;".
    m = re.fullmatch(r"\s*sep=(.)\s*", lines[start])
    if m:
        delimiter = delimiter or m.group(1)
        start += 1
        if start == len(lines):
            raise InputError(f"{label} holds no header line")
    if delimiter is None:
        delimiter = _choose_delimiter(lines[start])
    elif delimiter not in DELIMITERS:
        raise InputError(f"the separator must be one of comma, semicolon or tab, not "
                         f"{delimiter!r}")
    if decimal is not None and decimal not in (".", ","):
        raise InputError(f"the decimal mark must be '.' or ',', not {decimal!r}")
    if decimal == "," and delimiter == ",":
        raise InputError("a decimal comma needs a separator other than the comma")
    reader = csv.reader(io.StringIO("\n".join(lines[start:]) + "\n"), delimiter=delimiter)
    header = None
    rows, numbers = [], []
    try:
        for record in reader:
            line = start + reader.line_num
            if header is None:
                header = [h.strip() for h in record]
                if not any(header):
                    raise InputError(f"{label}: the header line {line} is empty")
                continue
            if not any(c.strip() for c in record):
                continue
            if len(record) > len(header) and any(c.strip() for c in record[len(header):]):
                raise InputError(f"{label}: row {line} has {len(record)} cells but the header "
                                 f"has {len(header)} (separator: "
                                 f"{_DELIMITER_NAMES[delimiter]})")
            record = (record + [""] * len(header))[:len(header)]
            if len(rows) == max_rows:
                raise InputError(f"{label} has more than {max_rows} rows; "
                                 + rows_advice.format(max_rows=max_rows))
            rows.append(record)
            numbers.append(line)
    except csv.Error as e:
        raise InputError(f"{label}: row {start + reader.line_num}: {e}") from None
    if not rows:
        raise InputError(f"{label} has a header but no data rows")
    if decimal is None:
        decimal = "."
        if delimiter != ",":
            for row in rows:
                if any(_COMMA_NUMBER.match(c.strip()) and "," in c for c in row):
                    decimal = ","
                    break
    return Table(path=str(path), header=header, rows=rows, lines=numbers, delimiter=delimiter,
                 decimal=decimal, sha256=digest)


@dataclass(frozen=True)
class Standards:
    """Standards read from a table, with the column headers used."""

    x: np.ndarray
    y: np.ndarray
    u_x: np.ndarray | None
    u_y: np.ndarray | None
    columns: dict
    names: list | None = None  # from the ID column, None without one


@dataclass(frozen=True)
class Samples:
    """Unknown samples read from a table: responses, their uncertainties (0 where the
    file has none), names (row numbers where it has none)."""

    y: np.ndarray
    u_y: np.ndarray
    names: list
    columns: dict


def read_standards(table: Table, x: str | None = None, y: str | None = None,
                   u_x: str | None = None, u_y: str | None = None,
                   name: str | None = None) -> Standards:
    """The x, y, u_x, u_y columns of a table of standards, and their names from an ID
    column (``name``, else found by its header).  Uncertainty columns are optional
    unless named; every uncertainty must be positive."""
    ix = table.find("x", x)
    iy = table.find("y", y)
    if ix == iy:
        raise InputError(f"{table.label}: x and y are the same column {table.header[ix]!r}")
    iux = table.find("u_x", u_x, required=u_x is not None, value_column=table.header[ix])
    iuy = table.find("u_y", u_y, required=u_y is not None, value_column=table.header[iy])
    iname = _id_column(table, name, (ix, iy, iux, iuy))
    cols = {"x": table.header[ix], "y": table.header[iy],
            "u_x": None if iux is None else table.header[iux],
            "u_y": None if iuy is None else table.header[iuy],
            "name": None if iname is None else table.header[iname]}
    return Standards(x=_values(table, ix, "x", x), y=_values(table, iy, "y", y),
                     u_x=None if iux is None else table.numbers(iux, positive=True),
                     u_y=None if iuy is None else table.numbers(iuy, positive=True),
                     columns=cols, names=None if iname is None else table.texts(iname))


def _values(table: Table, index: int, role: str, given) -> np.ndarray:
    """A value column; when it was found by its name and holds text such as "L1", the
    error says so and names the option that picks another column."""
    try:
        return table.numbers(index)
    except InputError as e:
        cells = [c for c in table.texts(index) if c]
        text = sum(parse_number(c, table.decimal) is None for c in cells)
        if given is not None or 2 * text < len(cells):  # a typo in a number column
            raise
        option = {"x": "--x", "y": "--y"}[role]
        numeric = [h for k, h in enumerate(table.header) if k != index and _numeric(table, k)]
        hint = (f"; numeric columns: {', '.join(map(repr, numeric))}" if numeric else "")
        raise InputError(f"{e}; the column {table.header[index]!r} was taken as {role} by "
                         f"its name: name the {role} column with {option}{hint}") from None


def _numeric(table: Table, index: int) -> bool:
    return all(parse_number(c, table.decimal) is not None for c in table.texts(index) if c)


def _id_column(table: Table, given: str | None, taken) -> int | None:
    """The ID column (sample or standard names): the one named, else the first header
    among the usual names ("Sample Name", "Sample ID", "Name", "ID", "Probe",
    "Probenname", ...) that is not a value column."""
    if given is not None:
        return table.find("name", given)
    norm = [normalize(h) for h in table.header]
    for c in DEFAULT_NAMES["name"]:
        for k, h in enumerate(norm):
            if h == c and k not in taken:
                return k
    return None


def read_samples(table: Table, y: str | None = None, u_y: str | None = None,
                 name: str | None = None, prefer_y=()) -> Samples:
    """The responses of unknown samples (``prefer_y``: header names tried first, such as
    the standards' response column), their uncertainties and names."""
    iy = table.find("y", y, prefer=prefer_y)
    iuy = table.find("u_y", u_y, required=u_y is not None, value_column=table.header[iy],
                     prefer=[f.format(normalize(p)) for p in prefer_y for f in _UNCERTAINTY_FORMS])
    iname = _id_column(table, name, (iy, iuy))
    values = _values(table, iy, "y", y)
    if iuy is None:
        uy = np.zeros_like(values)
    else:
        uy = table.numbers(iuy)
        bad = np.flatnonzero(uy < 0)
        if bad.size:
            k = int(bad[0])
            raise InputError(f"{table.label}: row {table.lines[k]}, column "
                             f"{table.header[iuy]!r}: the uncertainty {uy[k]:g} is negative")
    names = table.texts(iname) if iname is not None else [str(k + 1) for k in range(len(values))]
    cols = {"y": table.header[iy], "u_y": None if iuy is None else table.header[iuy],
            "name": None if iname is None else table.header[iname]}
    return Samples(y=values, u_y=uy, names=names, columns=cols)
