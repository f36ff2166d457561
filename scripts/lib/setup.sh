# Shared by scripts/test and scripts/demo: installs what the build, the tests
# and the service need (only what is missing), then configures and builds.
# Sourced, not run.

QUILLON_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
QUILLON_BUILD=${QUILLON_BUILD:-$QUILLON_ROOT/build}

quillon_packages="cmake make mingw-w64 libz-mingw-w64-dev wine wine64 unixodbc libsqliteodbc
  sqlite3 googletest odbc-postgresql postgresql ghostscript libcli11-dev
  wixl msitools dpkg-dev gcc tcl"

quillon_install_packages() {
  local missing=()
  local p
  for p in $quillon_packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
      "${missing[@]}" >/dev/null
  fi
}

quillon_build() {
  cmake -S "$QUILLON_ROOT" -B "$QUILLON_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$QUILLON_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$QUILLON_BUILD" -j"$(nproc)"
}
