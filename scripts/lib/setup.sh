# Shared by scripts/test and scripts/demo: installs what the build, the tests
# and the service need (only what is missing), then configures and builds.
# Sourced, not run.

QUILLON_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
QUILLON_BUILD=${QUILLON_BUILD:-$QUILLON_ROOT/build}

quillon_packages="cmake make mingw-w64 libz-mingw-w64-dev wine wine64 unixodbc libsqliteodbc
  sqlite3 googletest odbc-postgresql postgresql ghostscript libcli11-dev
  clang zlib1g-dev nettle-dev python3 chromium chromium-driver
  wixl msitools dpkg-dev gcc tcl"
# The producers of the page counter's corpus of real print files (drivers
# run as filters, PDF and PostScript writers), without what they only
# recommend: no print server.
quillon_corpus_packages="groff enscript poppler-utils qpdf mupdf-tools pstoedit fop cups-filters
  cups-filters-core-drivers cups-core-drivers cups-ppdc printer-driver-hpcups
  printer-driver-pxljr printer-driver-foo2zjs openprinting-ppds"

quillon_install_packages() {
  local missing=() corpus_missing=()
  local p
  for p in $quillon_packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
  for p in $quillon_corpus_packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      corpus_missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ] || [ ${#corpus_missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]} ${corpus_missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    if [ ${#missing[@]} -gt 0 ]; then
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
        "${missing[@]}" >/dev/null
    fi
    if [ ${#corpus_missing[@]} -gt 0 ]; then
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${corpus_missing[@]}" >/dev/null
    fi
  fi
}

quillon_build() {
  cmake -S "$QUILLON_ROOT" -B "$QUILLON_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$QUILLON_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$QUILLON_BUILD" -j"$(nproc)"
}
