#!/bin/sh
# outage_cluster.sh start ENVFILE | stop ENVFILE
# A PostgreSQL cluster of the outage test's own, which that test shuts down
# and starts again; the cluster that the other tests share is never touched.
# start writes the cluster's settings (scripts/pg-cluster's lines) to
# ENVFILE and loads the schema; with no PostgreSQL server here the file
# stays empty and the test skips, unless QUILLON_TEST_PG_REQUIRED is set.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
verb=${1:?usage: outage_cluster.sh start|stop ENVFILE}
env=${2:?usage: outage_cluster.sh start|stop ENVFILE}

case "$verb" in
  start)
    : >"$env"
    if ! ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
      [ -z "${QUILLON_TEST_PG_REQUIRED:-}" ] || { echo "no PostgreSQL server" >&2; exit 1; }
      exit 0
    fi
    "$root/scripts/pg-cluster" start >"$env.new"
    mv "$env.new" "$env"
    . "$env"
    psql -q -X -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$QUILLON_PG_PORT" -U quillon quillon_test \
      -f "$root/src/database/schema/postgresql.sql" >/dev/null
    ;;
  stop)
    [ -s "$env" ] || exit 0
    . "$env"
    "$root/scripts/pg-cluster" stop "$QUILLON_PG_CLUSTER_DIR"
    : >"$env"
    ;;
  *) echo "usage: outage_cluster.sh start|stop ENVFILE" >&2; exit 2 ;;
esac
