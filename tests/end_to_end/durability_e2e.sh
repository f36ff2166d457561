#!/usr/bin/env bash
# durability_e2e.sh BUILD_DIR SOURCE_DIR
#
# What the installed service has taken is kept. The real quillon.exe runs
# under Wine's SCM in a prefix of this test's own (the test kills every Wine
# process of it), on an SQLite database that another program holds locked
# (BEGIN EXCLUSIVE) while job reports arrive through quillonctl:
#   1. the reports are acknowledged while the lock holds; every Wine process
#      of the prefix is killed (wineserver -k), the lock ends, the service
#      starts again: every acknowledged job is in PRNDATA once, in order;
#   2. the same through a stop instead of a kill, which ends within seconds;
#   3. a stop during the replay of 20,000 journaled jobs ends promptly, and
#      the next start writes the rest, each once, in order.
# Host programs drive it: a program inside the prefix could not survive the
# kill. Figures (acknowledgment and stop times) are printed, not judged,
# beyond a bound that catches a hang.
set -euo pipefail

build=$(cd "${1:?usage: durability_e2e.sh BUILD_DIR SOURCE_DIR}" && pwd)
src=$(cd "${2:?usage: durability_e2e.sh BUILD_DIR SOURCE_DIR}" && pwd)
work=$build/tests/end_to_end/durability
svc=$work/service
db=$work/quillon.db
name="Tamrel Quillon Service"
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
qctl=$build/bin/quillonctl.exe

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Waits up to $1 seconds for the command to succeed; nothing signals the
# host, so it looks again every 100 ms.
wait_for() {
  local limit=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$limit" ] || return 1
    sleep 0.1
  done
}
rows() { sqlite3 -cmd ".timeout 5000" "$db" "$1"; }

# The service's process, by the path it runs from.
# (Wine shows the Windows path: any separator matches.)
service_pids() { pgrep -f -- "$(printf '%s' "$svc/quillon.exe" | sed 's|/|.|g')" || true; }
service_runs() { [ -n "$(service_pids)" ]; }
service_gone() { ! service_runs; }

lock_holder=
lock_fd=
# Another program holds the database: BEGIN EXCLUSIVE in an sqlite3 shell
# that reads its commands from a pipe.
lock() {
  rm -f "$work/lock.fifo"
  mkfifo "$work/lock.fifo"
  sqlite3 "$db" <"$work/lock.fifo" >/dev/null 2>&1 &
  lock_holder=$!
  exec {lock_fd}>"$work/lock.fifo"
  echo "BEGIN EXCLUSIVE;" >&"$lock_fd"
  locked() { ! sqlite3 -cmd ".timeout 0" "$db" "BEGIN IMMEDIATE; ROLLBACK;" >/dev/null 2>&1; }
  wait_for 20 locked || fail "the database could not be locked"
}
unlock() {
  [ -n "$lock_fd" ] || return 0
  echo "COMMIT;" >&"$lock_fd"
  exec {lock_fd}>&-
  lock_fd=
  wait "$lock_holder" || true
  lock_holder=
}

pipe_answers() {
  "$wine" "$qctl" rule --printer-id 2147483647 --user-id 2147483647 --action none \
    --timeout 5 >/dev/null 2>&1
}
start_service() {
  "$wine" net start "$name" >/dev/null 2>&1 || true
  wait_for 60 pipe_answers || fail "the service's pipe never answered"
}
# A job report; prints how long the client waited for its acknowledgment.
report() {
  local n=$1 t0 code=0
  t0=$(now_ms)
  "$wine" "$qctl" job --printer "Durable" --user "user$n" --computer WS-E2E \
    --document "Doc-$n" --pages "$n" --submitted $((1700000000 + n)) --timeout 20 \
    >/dev/null 2>&1 || code=$?
  [ "$code" -eq 0 ] || fail "report $n was not acknowledged (quillonctl exit $code)"
  echo "  report $n acknowledged after $(($(now_ms) - t0)) ms (a new Wine process included)"
}
expect_documents() {
  local expected=$1 got
  got=$(rows "SELECT group_concat(DocName, ' ') FROM (SELECT DocName FROM PRNDATA \
              WHERE DocName LIKE 'Doc-%' ORDER BY idPrnData)")
  [ "$got" = "$expected" ] || fail "PRNDATA holds [$got], expected [$expected]"
}
# A count the replay's write lock kept from being read is no count yet.
count_is() {
  local n
  n=$(rows "SELECT COUNT(*) FROM PRNDATA WHERE $1" 2>/dev/null) || return 1
  [ "$n" -eq "$2" ]
}

cleanup() {
  unlock
  "$wine" net stop "$name" >/dev/null 2>&1 || true
  "$wine" "$svc/quillon.exe" -u >/dev/null 2>&1 || true
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
}
trap cleanup EXIT

echo "Setting up a prefix of the test's own"
mkdir -p "$work"
"$src/scripts/wine-prefix" start "$WINEPREFIX"
"$wine" "$svc/quillon.exe" -u >/dev/null 2>&1 || true   # a run that ended early
rm -rf "$svc"
mkdir -p "$svc"
cp "$build/bin/quillon.exe" "$build/bin/pagecnt.dll" "$svc/"
rm -f "$db"
sqlite3 "$db" <"$src/src/database/schema/sqlite.sql"
# The driver waits about twice the busy time-out (2 s) for the lock.
"$wine" reg add 'HKLM\Software\Vornik\Maravel' /v DSN /t REG_SZ \
  /d "Driver=SQLite3;Database=$db;Timeout=1000" /f >/dev/null 2>&1
"$wine" "$svc/quillon.exe" -i >/dev/null 2>&1 || fail "the service could not be installed"
start_service

echo "1. Reports while the database is locked, then every Wine process is killed"
lock
for n in 1 2 3; do report "$n"; done
"$wineserver" -k
"$wineserver" -w
service_gone || fail "the service outlived wineserver -k"
unlock
count_is "1" 0 || fail "a row was written while the lock held"
# A new session: the service starts by itself (it is installed to start
# automatically) and writes what its journal holds.
"$src/scripts/wine-prefix" start "$WINEPREFIX"
wait_for 60 count_is "DocName LIKE 'Doc-%'" 3 ||
  fail "after the restart PRNDATA holds $(rows "SELECT COUNT(*) FROM PRNDATA") rows, not 3"
wait_for 60 pipe_answers || fail "the restarted service's pipe never answered"
expect_documents "Doc-1 Doc-2 Doc-3"
echo "  3 acknowledged jobs, 3 rows, in order"

echo "2. Reports while the database is locked, then a stop"
lock
for n in 4 5 6; do report "$n"; done
t0=$(now_ms)
"$wine" net stop "$name" >/dev/null 2>&1 || true
wait_for 60 service_gone || fail "the service did not end within 60 s of the stop"
stop_ms=$(($(now_ms) - t0))
echo "  the stop took $stop_ms ms with the database locked and jobs in flight"
[ "$stop_ms" -lt 20000 ] || fail "the stop took $stop_ms ms"
unlock
count_is "DocName LIKE 'Doc-%'" 3 || fail "a row was written while the lock held"
start_service
wait_for 60 count_is "DocName LIKE 'Doc-%'" 6 ||
  fail "after the start PRNDATA holds $(rows "SELECT COUNT(*) FROM PRNDATA") rows, not 6"
expect_documents "Doc-1 Doc-2 Doc-3 Doc-4 Doc-5 Doc-6"
echo "  3 more acknowledged jobs, 6 rows, in order"

echo "3. A stop during the replay of 20,000 journaled jobs"
jobs=20000
"$wine" net stop "$name" >/dev/null 2>&1 || true
wait_for 60 service_gone || fail "the service did not stop"
"$wine" "$build/bin/journal_writer.exe" "$svc/quillon.jnl" "$jobs" ||
  fail "the journal could not be written"
"$wine" net start "$name" >/dev/null 2>&1 || true
replayed() { rows "SELECT COUNT(*) FROM PRNDATA WHERE DocName LIKE 'Replay-%'"; }
replaying() { [ "$(replayed)" -ge 100 ]; }
wait_for 60 replaying || fail "the replay did not begin"
t0=$(now_ms)
"$wine" net stop "$name" >/dev/null 2>&1 || true
wait_for 60 service_gone || fail "the service did not end within 60 s of the stop"
stop_ms=$(($(now_ms) - t0))
written=$(replayed)
echo "  the stop took $stop_ms ms; $written of $jobs jobs were written before it"
[ "$stop_ms" -lt 20000 ] || fail "the stop took $stop_ms ms"
[ "$written" -lt "$jobs" ] || echo "  (the replay had ended before the stop: the case shows less)"
start_service
wait_for 180 count_is "DocName LIKE 'Replay-%'" "$jobs" ||
  fail "after the start $(replayed) replayed rows, not $jobs"
distinct=$(rows "SELECT COUNT(DISTINCT DocName) FROM PRNDATA WHERE DocName LIKE 'Replay-%'")
[ "$distinct" -eq "$jobs" ] || fail "$distinct distinct replayed documents"
# Job n has n pages: in order when the pages rise with the row ids.
disorder=$(rows "SELECT COUNT(*) FROM (SELECT Pages, LAG(Pages) OVER (ORDER BY idPrnData) AS prev
                 FROM PRNDATA WHERE DocName LIKE 'Replay-%') WHERE Pages <= prev")
[ "$disorder" -eq 0 ] || fail "$disorder replayed rows out of order"
count_is "DocName LIKE 'Doc-%'" 6 || fail "the earlier jobs changed"
echo "  $jobs journaled jobs, $jobs rows, each once, in order"
echo "PASSED"
