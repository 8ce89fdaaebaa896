#!/usr/bin/env bash
# Builds the documentation site (docs/) with Sphinx into build/docs/html, with
# every warning an error, checks that every link between its pages and to its
# own files resolves, then opens pages in headless Chromium
# (python/tests/test_docs_site.py). The pages' code examples run with the rest
# of the Python tests (python/tests/test_docs_examples.py, in scripts/test.sh).
#   QUORVEX_DOCS_OUT  output folder (default: build/docs/html)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${QUORVEX_DOCS_PACKAGES[@]}"
out=${QUORVEX_DOCS_OUT:-build/docs/html}
mkdir -p "$out"
PYTHONPATH="$PWD/python" /usr/bin/python3 -m sphinx -b html -E -W --keep-going -n -q \
  -d "$out/../doctrees" docs "$out"
/usr/bin/python3 docs/_ext/check_links.py "$out"
QUORVEX_DOCS_HTML="$(cd "$out" && pwd)" PYTHONPATH="$PWD/python" \
  /usr/bin/python3 -m pytest -p no:cacheprovider -q python/tests/test_docs_site.py
echo "documentation: $out/index.html"
