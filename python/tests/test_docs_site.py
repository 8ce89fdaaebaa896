"""The built documentation site (scripts/docs.sh sets QUORVEX_DOCS_HTML): every
public name and entry point has its reference entry, the command-line page lists
every option `--help` prints, and pages open offline in headless Chromium, drawn
(not blank, formulas typeset) without a request leaving the machine."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
HTML = os.environ.get("QUORVEX_DOCS_HTML")

pytestmark = pytest.mark.skipif(
    not HTML or not (Path(HTML) / "index.html").exists(),
    reason="the built site is checked by bash scripts/docs.sh (QUORVEX_DOCS_HTML)")

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


def inventory(root: Path) -> set[tuple[str, str]]:
    """(domain:role, name) of every object in the site's objects.inv."""
    data = (root / "objects.inv").read_bytes()
    body = zlib.decompress(data.split(b"\n", 4)[4]).decode("utf-8")
    out = set()
    for line in body.splitlines():
        m = re.match(r"(.+?)\s+(\S+:\S+)\s+(-?\d+)\s+(\S+)\s+(.*)", line)
        if m:
            out.add((m.group(2), m.group(1)))
    return out


def test_every_public_python_name_has_an_entry():
    import quorvex
    names = {name for role, name in inventory(Path(HTML)) if role.startswith("py:")}
    missing = [n for n in quorvex.__all__
               if not n.startswith("_") and f"quorvex.{n}" not in names]
    assert not missing, f"no reference entry for {missing}"
    summary = (Path(HTML) / "reference" / "python.html").read_text(encoding="utf-8")
    assert ":py:obj:" not in summary, "the summary table shows reST roles as text"
    for n in quorvex.__all__:
        if not n.startswith("_"):
            assert (Path(HTML) / "reference" / "api" / f"quorvex.{n}.html").exists()
            assert f'href="api/quorvex.{n}.html' in summary, f"the summary does not link {n}"


def test_every_exported_entry_point_has_an_entry():
    header = (REPO / "include" / "quorvex.h").read_text(encoding="utf-8")
    exported = re.findall(r"QVX_API void QVX_CALL (\w+)\(", header)
    assert len(exported) == 6
    names = {name for role, name in inventory(Path(HTML)) if role == "c:function"}
    assert set(exported) <= names, f"no C reference entry for {set(exported) - names}"
    page = (Path(HTML) / "reference" / "c.html").read_text(encoding="utf-8")
    # Every status constant of the header appears in the reference.
    for const in re.findall(r"#define (QVX_\w+) \(?-?\d+\)?", header):
        if const not in ("QVX_OK", "QVX_NO_STORAGE"):
            assert const in page, f"{const} is not in the C reference"


@pytest.mark.parametrize("command", ["fit", "invert"])
def test_command_line_page_lists_every_option_of_help(command):
    env = dict(os.environ, PYTHONPATH=str(REPO / "python"))
    help_text = subprocess.run([sys.executable, "-m", "quorvex", command, "--help"], env=env,
                               capture_output=True, text=True, check=True).stdout
    options = set(re.findall(r"(?<![\w-])(--?[a-z][a-z0-9-]*)", help_text)) - {"-h", "--help"}
    assert len(options) > 10
    page = (Path(HTML) / "guide" / "command-line.html").read_text(encoding="utf-8")
    page = page.replace("\u2011", "-")
    missing = sorted(o for o in options if o not in page)
    assert not missing, f"quorvex {command} --help has options the guide lacks: {missing}"


def _chromium(url: str, out: Path, *extra: str) -> tuple[str, list[dict]]:
    """Opens url with every host name unresolvable; returns Chromium's log (the
    page's console messages among it) and the net log's requests."""
    netlog = out.with_suffix(".netlog.json")
    with tempfile.TemporaryDirectory() as profile:
        cmd = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}",
               "--host-resolver-rules=MAP * ~NOTFOUND", f"--log-net-log={netlog}",
               "--enable-logging=stderr", "--v=0",
               "--virtual-time-budget=10000", *extra, url]
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=120, check=True)
    log = json.loads(netlog.read_text(encoding="utf-8", errors="replace") or "{}")
    requests = [e["params"] for e in log.get("events", [])
                if "url" in e.get("params", {}) and "initiator" in e.get("params", {})]
    return proc.stderr, requests


def _page_requests(requests):
    # Chromium's own service requests have no origin; a page's carry its origin
    # ("null" for a file:// page).
    return [r["url"] for r in requests if r.get("initiator") != "not an origin"
            and not r["url"].startswith(("file:", "data:", "blob:"))]


@pytest.mark.skipif(CHROMIUM is None, reason="chromium is not installed")
def test_the_request_check_sees_a_page_reaching_out(tmp_path):
    page = tmp_path / "out.html"
    page.write_text('<html><body><img src="http://quorvex.invalid/x.png">'
                    '<p>text</p></body></html>')
    _, requests = _chromium(page.as_uri(), tmp_path / "out.png",
                            f"--screenshot={tmp_path / 'out.png'}")
    assert any("quorvex.invalid" in u for u in _page_requests(requests))


@pytest.mark.skipif(CHROMIUM is None, reason="chromium is not installed")
@pytest.mark.parametrize("page", ["index.html", "guide/command-line.html", "methods.html"])
def test_page_opens_offline_and_is_drawn(page, tmp_path):
    from PIL import Image
    url = (Path(HTML) / page).resolve().as_uri()
    shot = tmp_path / (page.replace("/", "-") + ".png")
    log, requests = _chromium(url, shot, f"--screenshot={shot}", "--window-size=1280,1600")
    assert not _page_requests(requests), f"{page} reaches out: {_page_requests(requests)}"
    errors = [ln for ln in log.splitlines() if "CONSOLE" in ln and "Uncaught" in ln]
    assert not errors, f"{page}: script errors: {errors}"
    img = Image.open(shot).convert("L")
    hist = img.histogram()
    total = sum(hist)
    light = sum(hist[230:])
    dark = sum(hist[:100])
    assert 0.002 * total < dark, f"{page}: the screenshot is blank"
    assert light > 0.3 * total, f"{page}: the screenshot is not a page of text"
    keep = os.environ.get("QUORVEX_DOCS_SCREENSHOTS")
    if keep:
        Path(keep).mkdir(parents=True, exist_ok=True)
        shutil.copy(shot, Path(keep) / shot.name)
    if page == "methods.html":
        with tempfile.TemporaryDirectory() as profile:
            dom = subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
                                  "--no-first-run", "--disable-background-networking",
                                  f"--user-data-dir={profile}",
                                  "--host-resolver-rules=MAP * ~NOTFOUND",
                                  "--virtual-time-budget=10000", "--dump-dom", url],
                                 capture_output=True, text=True, timeout=120).stdout
        assert dom.count("mjx-chtml") >= 5, "formulas are not typeset (MathJax offline)"
