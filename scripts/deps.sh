# The Debian packages the builds need, and functions that install what is
# missing with apt-get.  Sourced by the other scripts.

# sudo when not root.
quorvex_sudo() {
  [ "$(id -u)" -ne 0 ] && echo sudo
  return 0
}

# Installs, with apt-get, whichever of the named Debian packages are missing.
ensure_packages() {
  local missing=()
  local p sudo
  sudo=$(quorvex_sudo)
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $sudo apt-get update
    # Waits for the dpkg lock when another installation is running.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
      -o DPkg::Lock::Timeout=600 "${missing[@]}"
  fi
}

# The Debian suite of this machine (bookworm on Debian 12).
quorvex_debian_suite() {
  local codename=""
  [ -r /etc/os-release ] && codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  echo "${codename:-bookworm}"
}

# True when some apt source already offers source packages.
quorvex_have_deb_src() {
  grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' \
    /etc/apt/sources.list /etc/apt/sources.list.d/
}

# Makes `apt-get source lapack` work: the library carries reference LAPACK
# and BLAS compiled from Debian's sources (scripts/reference-lapack.sh).
# Adds a deb-src entry for Debian's main archive when no apt source offers
# source packages, and refreshes apt's lists when they do not know the
# source package yet.
ensure_deb_src() {
  local sudo suite
  sudo=$(quorvex_sudo)
  if ! quorvex_have_deb_src; then
    suite=$(quorvex_debian_suite)
    echo "adding a deb-src entry for Debian $suite"
    $sudo tee /etc/apt/sources.list.d/quorvex-deb-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  if ! apt-cache showsrc lapack 2>/dev/null | grep -q '^Package: lapack'; then
    $sudo apt-get update
  fi
}

# What every build of the library needs (the deb-src entry and the build
# packages), then the packages named.
ensure_build_packages() {
  ensure_packages "${QUORVEX_BUILD_PACKAGES[@]}" "$@"
  ensure_deb_src
}

# The compilers, and dpkg-dev for `apt-get source` (reference LAPACK and
# BLAS are built into the library from Debian's sources).  liblapack-dev
# gives the tests an independent solver and a control library; it installs
# Debian's reference liblapack3 and libblas3, whose source version the
# library's routines are taken from.  The laboratory layer takes its
# distributions from Boost.Math (header-only, in libboost-dev).
QUORVEX_BUILD_PACKAGES=(cmake make g++ gcc gfortran binutils dpkg-dev liblapack-dev libblas-dev
                        googletest libgtest-dev libbenchmark-dev libboost-dev)

# Python package tests (pytest, the offline install into a venv, a local Dask cluster).
QUORVEX_PYTHON_PACKAGES=(python3-numpy python3-mpmath python3-pytest python3-venv python3-pip python3-setuptools
                         python3-wheel python3-dask python3-distributed python3-pandas
                         python3-jsonschema)

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
