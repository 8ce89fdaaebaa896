"""Checks the links of the built site: every link between its pages and to its
own files names a file that exists and, with a #fragment, an id in that page;
no page loads anything (script, style, picture, font) from the network.

    python3 docs/_ext/check_links.py build/docs/html

Links to other sites (http, https, mailto) are not followed: the check runs
without a network. Exits with 1 and one line per broken link.
"""
from __future__ import annotations

import sys
from html.parser import HTMLParser
from pathlib import Path
from urllib.parse import unquote, urlsplit


class _Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.ids: set[str] = set()
        self.links: list[tuple[str, str, str]] = []  # (tag, attribute, url)

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if value is None:
                continue
            if name in ("id", "name"):
                self.ids.add(value)
            elif name in ("href", "src") or (tag == "object" and name == "data"):
                self.links.append((tag, name, value))


def parse(path: Path) -> _Page:
    page = _Page()
    page.feed(path.read_text(encoding="utf-8", errors="replace"))
    return page


def check(root: Path) -> list[str]:
    root = root.resolve()
    pages = {p: parse(p) for p in root.rglob("*.html")}
    problems = []
    for path, page in sorted(pages.items()):
        rel = path.relative_to(root)
        for tag, attr, url in page.links:
            parts = urlsplit(url)
            if parts.scheme in ("http", "https", "ftp") or url.startswith("//"):
                # A link a reader follows may leave the site; a resource the page
                # loads itself may not.
                if not (tag == "a" and attr == "href"):
                    problems.append(f"{rel}: <{tag} {attr}> loads {url} from the network")
                continue
            if parts.scheme in ("mailto", "data", "javascript"):
                continue
            if parts.scheme:
                problems.append(f"{rel}: <{tag} {attr}> has an unknown scheme: {url}")
                continue
            target = path if not parts.path else (path.parent / unquote(parts.path)).resolve()
            if target.is_dir():
                target = target / "index.html"
            if root not in target.parents and target != root:
                problems.append(f"{rel}: {url} points outside the site")
                continue
            if not target.exists():
                problems.append(f"{rel}: {url}: no such file")
                continue
            frag = unquote(parts.fragment)
            if frag and target.suffix == ".html":
                ids = pages[target].ids if target in pages else parse(target).ids
                if frag not in ids:
                    problems.append(f"{rel}: {url}: no id '{frag}' in {target.relative_to(root)}")
    return problems


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = Path(argv[1])
    if not (root / "index.html").exists():
        print(f"check_links: {root} holds no built site (index.html)", file=sys.stderr)
        return 2
    problems = check(root)
    for p in problems:
        print(f"check_links: {p}", file=sys.stderr)
    n = len(list(root.rglob("*.html")))
    print(f"check_links: {n} pages, {len(problems)} broken link(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
