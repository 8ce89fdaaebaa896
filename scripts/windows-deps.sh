# Installs what the Windows cross build and its Wine test need, with apt-get:
# the i386 architecture (for 32-bit Wine), Wine (32- and 64-bit), the
# MinGW-w64 C++ and Fortran cross compilers for i686 (the 32-bit DLL) and
# x86_64 (the 64-bit DLL), with what every build needs (scripts/deps.sh: the
# build packages and a deb-src entry so that Debian's reference LAPACK
# sources can be fetched with `apt-get source`).  Does nothing that is
# already in place.  Sourced by scripts/windows.sh.
source "$(dirname "${BASH_SOURCE[0]}")/deps.sh"

QUORVEX_WINDOWS_PACKAGES=(wine wine32:i386 wine64 g++-mingw-w64-i686 gfortran-mingw-w64-i686
                          binutils-mingw-w64-i686 g++-mingw-w64-x86-64
                          gfortran-mingw-w64-x86-64 binutils-mingw-w64-x86-64 dpkg-dev)

ensure_windows_packages() {
  local sudo
  sudo=$(quorvex_sudo)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture"
    $sudo dpkg --add-architecture i386
    $sudo apt-get update
  fi
  ensure_build_packages "${QUORVEX_WINDOWS_PACKAGES[@]}"
}
