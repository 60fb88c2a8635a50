#!/usr/bin/env bash
# Many runs at once in one directory: each one either does all it says or fails with one error line
# and changes nothing, and the file stays sound. Usage: concurrency.sh KAVRO
set -euo pipefail
kavro=$(realpath "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

seeds=8
for i in $(seq 1 "$seeds"); do "$kavro" addcode --key=SEED$i --site=seed --account=seed-$i >/dev/null; done

start() {  # name, then the arguments; records stdout, stderr and the status under the name
  local name=$1
  shift
  { "$kavro" "$@" >"$name.out" 2>"$name.err" && echo 0 >"$name.rc" || echo $? >"$name.rc"; } &
}
for i in $(seq 1 40); do start add$i addcode --key=KEY$i --site=site-$i --account=acct-$i; done
for i in $(seq 1 "$seeds"); do start del$i delcode --id=$i; done
for i in $(seq 1 "$seeds"); do start list$i lscodes; done
wait

rows() { sqlite3 kavro.db "SELECT count(*) FROM records WHERE $1"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
declare -A succeeded=() refused=()
check() {  # name, kind, stdout pattern on success, rows expected on success, rows on failure
  local name=$1 kind=$2 pattern=$3 condition=$4 okRows=$5 failRows=$6
  if [ "$(cat "$name.rc")" = 0 ]; then
    grep -Eqvx "$pattern" "$name.out" && fail "$name printed: $(cat "$name.out")"
    [ "$kind" = lscodes ] || [ "$(wc -l <"$name.out")" = 1 ] || fail "$name printed: $(cat "$name.out")"
    [ -s "$name.err" ] && fail "$name succeeded but wrote: $(cat "$name.err")"
    [ "$(rows "$condition")" = "$okRows" ] || fail "$name succeeded, rows where $condition: $(rows "$condition")"
    succeeded[$kind]=$((${succeeded[$kind]:-0} + 1))
  else
    [ "$(wc -l <"$name.err")" = 1 ] && grep -q '^Error ' "$name.err" || fail "$name: $(cat "$name.err")"
    [ "$kind" = lscodes ] || [ ! -s "$name.out" ] || fail "$name failed but printed: $(cat "$name.out")"
    [ "$(rows "$condition")" = "$failRows" ] || fail "$name failed, rows where $condition: $(rows "$condition")"
    refused[$kind]=$((${refused[$kind]:-0} + 1))
  fi
}
for i in $(seq 1 40); do
  check add$i addcode 'Generated code: [0-9]{6}' "key = 'KEY$i' AND site = 'site-$i' AND account = 'acct-$i'" 1 0
done
for i in $(seq 1 "$seeds"); do check del$i delcode "ID $i deleted successfully\\." "account = 'seed-$i'" 0 1; done
for i in $(seq 1 "$seeds"); do
  check list$i lscodes $'ID: [0-9]+\tSite: [^\t]*\tAccount: [^\t]*\tGenerated code: [0-9]{6}' "id < 0" 0 0
done
[ "$(sqlite3 kavro.db 'PRAGMA integrity_check')" = ok ] || fail "integrity check"
for kind in addcode delcode lscodes; do
  echo "$kind: ${succeeded[$kind]:-0} carried out, ${refused[$kind]:-0} refused"
done
[ "${#succeeded[@]}" -gt 0 ] || fail "no run got through"
