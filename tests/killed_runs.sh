#!/usr/bin/env bash
# Runs killed at random moments lose nothing that was reported done, leave no half-written row
# and never corrupt the file. Usage: killed_runs.sh KAVRO [RUNS]
set -euo pipefail
kavro=$(realpath "$1")
runs=${2:-100}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# Seeded rows 1-30 are the ones deleted; the top one stays, so no deleted id is handed out again.
seeds=30
for i in $(seq 1 "$seeds"); do "$kavro" addcode --key=KEY$i --site=site-$i --account=seed-$i >/dev/null; done

killed=0 midWrite=0
for i in $(seq 1 "$runs"); do
  if ((i % 4 == 0)); then
    args=(delcode --id=$((RANDOM % (seeds - 1) + 1)))
  else
    args=(addcode --key=KEY$i --site=site-$i --account=acct-$i)
  fi
  "$kavro" "${args[@]}" >"run$i.out" 2>/dev/null &
  sleep "0.00$((RANDOM % 8))"
  kill -KILL $! 2>/dev/null || true
  wait $! 2>/dev/null && status=0 || status=$?
  ((status == 137)) && killed=$((killed + 1))
  [ -e kavro.db-journal ] && midWrite=$((midWrite + 1))
  echo "${args[*]}" >"run$i.args"
done

sql() { sqlite3 kavro.db "$1"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(sql 'PRAGMA integrity_check')" = ok ] || fail "integrity check: $(sql 'PRAGMA integrity_check')"
torn=$(sql "SELECT count(*) FROM records WHERE key IS NOT 'KEY' || substr(account, 6)
            OR site IS NOT 'site-' || substr(account, 6)
            OR (account NOT LIKE 'acct-%' AND account NOT LIKE 'seed-%')")
[ "$torn" = 0 ] || fail "$torn rows are not as typed"
for i in $(seq 1 "$runs"); do
  read -r command option _ <"run$i.args"
  [ -s "run$i.out" ] || continue
  if [ "$command" = addcode ]; then
    [ "$(sql "SELECT count(*) FROM records WHERE account = 'acct-$i'")" = 1 ] || fail "run $i lost its row"
  else
    id=${option#--id=}
    [ "$(sql "SELECT count(*) FROM records WHERE account = 'seed-$id'")" = 0 ] || fail "run $i kept row $id"
  fi
done
echo "$runs runs, $killed killed ($midWrite in a write); $(sql 'SELECT count(*) FROM records') rows checked"
