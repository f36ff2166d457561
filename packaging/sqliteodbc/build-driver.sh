#!/usr/bin/env bash
# build-driver.sh OUT_DIR
# The SQLite ODBC driver for 64-bit Windows, cross-built with mingw-w64 from
# Debian's source packages of the driver and of SQLite, at pinned versions.
# Fetches the sources with `apt-get source` through an apt state of its own
# under OUT_DIR (a deb-src entry for the archives the machine installs from;
# the machine's apt configuration is not touched), checks them against the
# pinned checksums, and builds OUT_DIR/sqlite3odbc.dll with SQLite linked in,
# as the driver's own mingw build does. Nothing is fetched or built again
# while OUT_DIR holds the result for the same pins and flags.
#
# Reproducible: fixed flags, no time stamp in the PE header, a fixed image
# base (ld would derive one from the output's path), source paths mapped
# away; the same pins give the same bytes wherever the build runs.
set -euo pipefail

# The pins. Change them together with the checksums of the .dsc files
# (`apt-cache showsrc PKG`); dpkg-source checks every other file of a
# package against its .dsc.
SQLITEODBC_VERSION=0.9998-3
SQLITEODBC_DSC_SHA256=5ba186594452e0e0dde1f194692a5905800931befb3fa79ec3b90d8890d2c441
SQLITE_VERSION=3.40.1-2+deb12u2
SQLITE_DSC_SHA256=ee3459ae9d00939741c7708fc1b8ce1bde12d8c3fb1dfa005bbbc8651d884e23

out=$(mkdir -p "$1" && cd "$1" && pwd)
cc=x86_64-w64-mingw32-gcc-posix
windres=x86_64-w64-mingw32-windres
log=$out/build.log

# Flags of the driver's own Makefile.mingw64-cross (static SQLite, no
# SQLite 2), and the settings that make the result reproducible.
cflags=(-O2 -DNDEBUG=1 -w "-ffile-prefix-map=$out=.")
sqlite_flags=(-DWIN32=1 -DNO_TCL -DTHREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA=1
  -DSQLITE_DLL=1 -DSQLITE_THREADSAFE=1 -DSQLITE_OS_WIN=1 -DSQLITE_ASCII=1
  -DSQLITE_SOUNDEX=1)
driver_flags=(-DHAVE_LONG_LONG=1 -DHAVE_SQLROWOFFSET=1 -DHAVE_SQLLEN=1 -DHAVE_SQLULEN=1
  -DHAVE_SQLROWCOUNT=1 -DHAVE_SQLSETPOSIROW=1 -DPTRDIFF_T=ptrdiff_t
  -DHAVE_SQLITE3COLUMNTABLENAME=1 -DHAVE_SQLITE3COLUMNDATABASENAME=1
  -DHAVE_SQLITE3COLUMNORIGINNAME=1 -DHAVE_SQLITE3LOADEXTENSION=1
  -DHAVE_SQLITE3PREPAREV2=1 -DHAVE_SQLITE3VFS=1 -DHAVE_SQLITE3PROFILE=1
  -DHAVE_SQLITE3CLOSEV2=1 -DHAVE_SQLITE3STRNICMP=1 -DHAVE_SQLITE3TABLECOLUMNMETADATA=1
  -DWITHOUT_SHELL=1)
link_flags=(-shared -static-libgcc -Wl,--kill-at -Wl,--no-insert-timestamp
  -Wl,--disable-auto-image-base -s)
libs=(-lodbc32 -lodbccp32 -lgdi32 -lcomdlg32 -ladvapi32 -lshell32 -luser32 -lkernel32)

# What the result was built from: a change to any of it builds again.
recipe=$(printf '%s\n' "$SQLITEODBC_VERSION" "$SQLITEODBC_DSC_SHA256" "$SQLITE_VERSION" \
  "$SQLITE_DSC_SHA256" "${cflags[*]}" "${sqlite_flags[*]}" "${driver_flags[*]}" \
  "${link_flags[*]}" "${libs[*]}" "$($cc --version | head -1)")
if [ -f "$out/sqlite3odbc.dll" ] && [ "$(cat "$out/recipe" 2>/dev/null)" = "$recipe" ]; then
  exit 0
fi
rm -f "$out/sqlite3odbc.dll" "$out/recipe"
: >"$log"
trap 'echo "Building the SQLite ODBC driver failed; the end of $log:" >&2; tail -30 "$log" >&2' ERR

# --- The sources ---------------------------------------------------------
apt_root=$out/apt
downloads=$out/downloads
mkdir -p "$apt_root/etc/sources.list.d" "$apt_root/etc/apt.conf.d" \
  "$apt_root/etc/preferences.d" "$apt_root/state/lists/partial" \
  "$apt_root/cache/archives/partial" "$downloads"
apt_opts=(-o "Dir::Etc=$apt_root/etc" -o "Dir::Etc::sourcelist=/dev/null"
  -o "Dir::State=$apt_root/state" -o "Dir::State::status=/var/lib/dpkg/status"
  -o "Dir::Cache=$apt_root/cache" -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=root")

# deb-src entries for the Debian archives of the machine's own sources.
write_source_entries() {
  local f
  : >"$apt_root/etc/sources.list.d/debian-src.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\(.*debian.*\)$/deb-src \1\2/p' "$f" \
      >>"$apt_root/etc/sources.list.d/debian-src.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -q '^URIs:.*debian' "$f" || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_root/etc/sources.list.d/$(basename "$f")"
  done
}

sha_ok() { echo "$2  $1" | sha256sum -c --status 2>/dev/null; }

fetch() {   # fetch PACKAGE VERSION DSC_SHA256
  local dsc="$downloads/${1}_${2#*:}.dsc"
  sha_ok "$dsc" "$3" && return 0
  if [ ! -f "$apt_root/updated" ]; then
    write_source_entries
    apt-get "${apt_opts[@]}" update >>"$log" 2>&1
    touch "$apt_root/updated"
  fi
  (cd "$downloads" && apt-get "${apt_opts[@]}" source --download-only "$1=$2") >>"$log" 2>&1
  if ! sha_ok "$dsc" "$3"; then
    echo "$dsc does not match its pinned checksum" >&2
    exit 1
  fi
}

unpack() {   # unpack PACKAGE VERSION DIR (dpkg-source leaves copies of the tarballs beside DIR)
  rm -rf "$out/src/$3" && mkdir -p "$out/src"
  dpkg-source --no-check -x "$downloads/${1}_${2#*:}.dsc" "$out/src/$3" >>"$log" 2>&1
  rm -f "$out/src/${1}_"*
}

fetch sqliteodbc "$SQLITEODBC_VERSION" "$SQLITEODBC_DSC_SHA256"
fetch sqlite3 "$SQLITE_VERSION" "$SQLITE_DSC_SHA256"
unpack sqliteodbc "$SQLITEODBC_VERSION" sqliteodbc
unpack sqlite3 "$SQLITE_VERSION" sqlite3

# --- SQLite's single-file source (generated on the host) -----------------
mkdir -p "$out/sqlite3-host"
(cd "$out/sqlite3-host" && "$out/src/sqlite3/configure" --disable-tcl >>"$log" 2>&1 &&
  make sqlite3.c >>"$log" 2>&1)

# --- The driver ----------------------------------------------------------
obj=$out/obj
rm -rf "$obj" && mkdir -p "$obj"
drv=$out/src/sqliteodbc
vers=$(cat "$drv/VERSION")
sed -e "s/--VERS_C--/$(echo "$vers" | sed -e 's/\([0-9]\+\)[.]\([0-9]\+\).*/\1,\2/')/" \
    -e "s/--VERS--/$vers/" "$drv/resource.h.in" >"$obj/resource3.h"
$cc "${cflags[@]}" "${sqlite_flags[@]}" -I"$out/sqlite3-host" \
  -c "$out/sqlite3-host/sqlite3.c" -o "$obj/sqlite3a10n.o" >>"$log" 2>&1
$cc "${cflags[@]}" "-DDRIVER_VER_INFO=\"$vers\"" "${driver_flags[@]}" \
  -I"$obj" -I"$out/sqlite3-host" -c "$drv/sqlite3odbc.c" -o "$obj/sqlite3odbc.o" >>"$log" 2>&1
$windres -I"$obj" -I"$out/sqlite3-host" -o "$obj/sqlite3odbcres.o" "$drv/sqlite3odbc.rc" >>"$log" 2>&1
$cc "${link_flags[@]}" -o "$obj/sqlite3odbc.dll" \
  "$obj/sqlite3odbc.o" "$obj/sqlite3odbcres.o" "$obj/sqlite3a10n.o" "${libs[@]}" >>"$log" 2>&1

# The licence texts go into the package with the driver.
{
  echo "The SQLite ODBC driver $SQLITEODBC_VERSION (Debian source package sqliteodbc)"
  echo
  cat "$drv/license.terms"
  echo
  echo "SQLite $SQLITE_VERSION (Debian source package sqlite3), linked into the driver"
  echo
  cat "$out/src/sqlite3/LICENSE.md"
} >"$out/sqlite3odbc-license.txt"
mv "$obj/sqlite3odbc.dll" "$out/sqlite3odbc.dll"
echo "$recipe" >"$out/recipe"
