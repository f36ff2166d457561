#!/usr/bin/env bash
# package_tables_test.sh MSI VERSION
# The package's own tables as msiinfo exports them: what Windows Installer
# will do with the service, the registry and the files. Each check prints
# the row it looked for and what the table holds when it fails.
set -u
msi=$1
version=$2
failures=0
checks=0

table() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }

# expect TABLE ROW: the table holds the row (tab-separated columns).
expect() {
  local rows
  checks=$((checks + 1))
  rows=$(table "$1")
  if ! grep -qxF -- "$2" <<<"$rows"; then
    echo "FAIL: $1 has no row"
    echo "  expected: $2" | cat -A | sed 's/\$$//'
    echo "  the table:"
    sed 's/^/    /' <<<"$rows" | cat -A | sed 's/\$$//'
    failures=$((failures + 1))
  fi
}

t=$'\t'
svc="Tamrel Quillon Service"
evkey="SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\$svc"
drvkey="SOFTWARE\\ODBC\\ODBCINST.INI\\SQLite3 ODBC Driver"

# The service as -i registers it: own process (16), automatic start (2),
# normal error control (1), no account (LocalSystem), the key file
# quillon.exe, after the spooler.
expect ServiceInstall "Service${t}${svc}${t}${svc}${t}16${t}2${t}1${t}${t}Spooler[~][~]${t}${t}${t}${t}Service${t}"
# Started at installation (1), stopped at installation and removal (2 and
# 32), deleted at removal (128), waiting for each.
expect ServiceControl "Service${t}${svc}${t}163${t}${t}1${t}Service"
expect Component "Service${t}{E29CBB93-F925-43B9-A6A7-FC728E42509B}${t}INSTALLDIR${t}256${t}${t}quillon.exe"
# The event source: REG_EXPAND_SZ ("#%") path of quillon.exe, DWORD 7.
expect Registry "$(table Registry | grep -F "${t}EventMessageFile${t}" | cut -f1)${t}2${t}${evkey}${t}EventMessageFile${t}#%[#quillon.exe]${t}Service"
expect Registry "$(table Registry | grep -F "${t}TypesSupported${t}" | cut -f1)${t}2${t}${evkey}${t}TypesSupported${t}#7${t}Service"
# The driver under its usual name, as its own installer registers it.
expect Registry "$(table Registry | grep -F "${t}Driver${t}" | cut -f1)${t}2${t}${drvkey}${t}Driver${t}[#sqlite3odbc.dll]${t}OdbcDriver"
expect Registry "$(table Registry | grep -F "${t}Setup${t}" | cut -f1)${t}2${t}${drvkey}${t}Setup${t}[#sqlite3odbc.dll]${t}OdbcDriver"
expect Registry "$(table Registry | grep -F "${t}SQLite3 ODBC Driver${t}" | cut -f1)${t}2${t}SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers${t}SQLite3 ODBC Driver${t}Installed${t}OdbcDriver"
# The version from VERSION, and the upgrade that replaces older packages.
expect Property "ProductVersion${t}${version}"
expect Upgrade "{341524D0-AB6D-4345-AF97-A495939D0ADA}${t}${t}${version}${t}${t}1${t}${t}WIX_UPGRADE_DETECTED"
# Without a "DSN", quillonctl sets up the database (as LocalSystem: 3090 is
# an executable of the package, deferred, not impersonated, its exit code
# checked), then the printers are listed, between the service's
# installation (5800) and its start (5900).
expect CustomAction "SetUpDatabase${t}3090${t}quillonctl.exe${t}setup --database \"[DATABASEFILE]\" --driver \"[ODBCDRIVER]\"${t}"
expect CustomAction "DefaultDatabaseFile${t}51${t}DATABASEFILE${t}[DATADIR]quillon.db${t}"
expect Property "ODBCDRIVER${t}SQLite3 ODBC Driver"
expect InstallExecuteSequence "SetUpDatabase${t}NOT QUILLONDSN AND REMOVE<>\"ALL\"${t}5810"
expect CustomAction "AddPrinters${t}3090${t}quillonctl.exe${t}printer --service-dir \"[INSTALLDIR].\" add --names \"[PRINTERS]\"${t}"
expect CustomAction "AddGdiPrinters${t}3090${t}quillonctl.exe${t}printer --service-dir \"[INSTALLDIR].\" add --gdi --names \"[GDIPRINTERS]\"${t}"
expect InstallExecuteSequence "AddPrinters${t}PRINTERS AND REMOVE<>\"ALL\"${t}5820"
expect InstallExecuteSequence "AddGdiPrinters${t}GDIPRINTERS AND REMOVE<>\"ALL\"${t}5830"
expect InstallExecuteSequence "InstallServices${t}VersionNT${t}5800"
expect InstallExecuteSequence "StartServices${t}VersionNT${t}5900"
# The "DSN" looked up in the 64-bit registry (18: raw, 64-bit view).
expect RegLocator "ExistingDsn${t}2${t}Software\\Vornik\\Maravel${t}DSN${t}18"
# Every program, and the driver with its licence.
for f in quillon.exe pagecnt.dll pagecount.exe quillonctl.exe sqlite3odbc.dll; do
  checks=$((checks + 1))
  if ! table File | cut -f1,3 | grep -qxF "${f}${t}${f}"; then
    echo "FAIL: File has no $f"; failures=$((failures + 1))
  fi
done
checks=$((checks + 2))
if ! table File | cut -f3 | grep -qxF "license.txt"; then
  echo "FAIL: File has no license.txt"; failures=$((failures + 1))
fi
# A 64-bit package.
if ! msiinfo suminfo "$msi" | grep -qxF "Template: x64;1033"; then
  echo "FAIL: not an x64 package:"; msiinfo suminfo "$msi" | grep Template
  failures=$((failures + 1))
fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
