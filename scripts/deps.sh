# Installs, with apt-get, whichever of the named Debian packages are missing.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

QUORVEX_BUILD_PACKAGES=(cmake make g++ gcc binutils liblapack-dev libblas-dev
                        googletest libgtest-dev libbenchmark-dev)

# Python package tests (pytest, the offline install into a venv, a local Dask cluster).
QUORVEX_PYTHON_PACKAGES=(python3-numpy python3-pytest python3-venv python3-pip python3-setuptools
                         python3-wheel python3-dask python3-distributed python3-pandas)

# The plot, the report and the command line (scipy for their verdicts and band; tqdm
# draws progress; the tests open the report in headless Chromium, print it to PDF and
# read the PDF back with poppler-utils).
QUORVEX_REPORT_PACKAGES=(python3-numpy python3-scipy python3-matplotlib python3-tqdm chromium
                         poppler-utils)

# clang and its run-time libraries (sanitizers, libFuzzer): the clang
# sanitizer build and the fuzz targets.
QUORVEX_CLANG_PACKAGES=(clang-14 libclang-rt-14-dev)

# The R package (scripts/r-check.sh): R from Debian, testthat for its tests,
# pkg-config to find the library.
QUORVEX_R_PACKAGES=(r-base-core r-base-dev r-cran-testthat pkg-config)

# The documentation site (scripts/docs.sh): Sphinx with the furo theme, MyST
# Markdown pages, numpydoc docstrings, MathJax served from the local copy; the
# site test opens the pages in headless Chromium.
QUORVEX_DOCS_PACKAGES=(python3-sphinx furo python3-myst-parser python3-numpydoc libjs-mathjax
                       fonts-mathjax python3-numpy python3-pytest chromium)
