# Installs what the Windows cross build and its Wine test need, with apt-get:
# the i386 architecture (for 32-bit Wine), Wine (32- and 64-bit), the
# MinGW-w64 C++ and Fortran cross compilers for i686 (the 32-bit DLL) and
# x86_64 (the 64-bit DLL), and a deb-src entry so that Debian's reference
# LAPACK sources can be fetched with `apt-get source`.  Does nothing that is
# already in place.  Sourced by scripts/windows.sh.
source "$(dirname "${BASH_SOURCE[0]}")/deps.sh"

QUORVEX_WINDOWS_PACKAGES=(wine wine32:i386 wine64 g++-mingw-w64-i686 gfortran-mingw-w64-i686
                          binutils-mingw-w64-i686 g++-mingw-w64-x86-64
                          gfortran-mingw-w64-x86-64 binutils-mingw-w64-x86-64 dpkg-dev)

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

ensure_windows_packages() {
  local sudo="" changed=0 missing=() p
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture"
    $sudo dpkg --add-architecture i386
    changed=1
  fi
  if ! quorvex_have_deb_src; then
    local suite
    suite=$(quorvex_debian_suite)
    echo "adding a deb-src entry for Debian $suite"
    $sudo tee /etc/apt/sources.list.d/quorvex-deb-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    changed=1
  fi
  for p in "${QUORVEX_BUILD_PACKAGES[@]}" "${QUORVEX_WINDOWS_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ "$changed" -eq 1 ] || [ ${#missing[@]} -gt 0 ]; then
    $sudo apt-get update
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    # Waits for the dpkg lock when another installation is running.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
      -o DPkg::Lock::Timeout=600 "${missing[@]}"
  fi
}
