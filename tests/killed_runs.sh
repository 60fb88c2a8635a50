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
# Timing the seeding spreads the kill moments over the length of one run, however slow the build.
seeds=30
start=$(date +%s%N)
for i in $(seq 1 "$seeds"); do "$kavro" addcode --key=KEY$i --site=site-$i --account=seed-$i >/dev/null; done
span=$((($(date +%s%N) - start) / seeds / 1000)) # microseconds

fail() { echo "FAIL: $*" >&2; exit 1; }
killed=0 midWrite=0
for i in $(seq 1 "$runs"); do
  if ((i % 4 == 0)); then
    args=(delcode --id=$((RANDOM % (seeds - 1) + 1)))
  else
    args=(addcode --key=KEY$i --site=site-$i --account=acct-$i)
  fi
  [ -e kavro.db-journal ] && journal=1 || journal=0
  "$kavro" "${args[@]}" >"run$i.out" 2>"run$i.err" &
  delay=$(((RANDOM * 32768 + RANDOM) % (span + 1)))
  sleep "$((delay / 1000000)).$(printf %06d $((delay % 1000000)))"
  kill -KILL $! 2>/dev/null || true
  wait $! 2>/dev/null && status=0 || status=$?
  case $status in
  137) killed=$((killed + 1)) ;;
  0) [ ! -s "run$i.err" ] || fail "run $i succeeded but wrote: $(cat "run$i.err")" ;;
  1) grep -Eqx 'No record with ID [0-9]+' "run$i.err" || fail "run $i failed: $(cat "run$i.err")" ;;
  *) fail "run $i ended with status $status: $(cat "run$i.err")" ;;
  esac
  ((journal == 0)) && [ -e kavro.db-journal ] && midWrite=$((midWrite + 1))
  echo "${args[*]}" >"run$i.args"
done
((killed > 0 && killed < runs - 10)) || fail "$killed of $runs runs killed: the kill moments miss the runs"

sql() { sqlite3 kavro.db "$1"; }
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
