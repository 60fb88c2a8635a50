#!/usr/bin/env bash
# A store that cannot be used gets one clear error line and status 1, and is left as it was.
# Usage: bad_files.sh KAVRO
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
kavro=$dir/kavro  # a copy that another user can run too
cp "$1" "$kavro"

as_other_user() {  # root ignores file modes, so drop to an unprivileged user when root
  if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; else "$@"; fi
}
snapshot() { ls -l --time-style=full-iso && { [ ! -f kavro.db ] || sha256sum kavro.db; }; }
make_database() { "$kavro" addcode --key=KEY --site=site --account=account >/dev/null; }

random_bytes() { head -c 8192 /dev/urandom >kavro.db; }
truncated() { make_database && truncate -s 3000 kavro.db; }
directory() { mkdir kavro.db; }
missing_column() { sqlite3 kavro.db 'CREATE TABLE records (id INTEGER PRIMARY KEY, key TEXT, site TEXT)'; }
hold_lock() {  # another connection takes a lock (BEGIN $1) and keeps it until fd 3 closes
  make_database
  mkfifo "$dir/lock"
  sqlite3 kavro.db <"$dir/lock" >/dev/null &
  exec 3>"$dir/lock"
  printf '.timeout 5000\nBEGIN %s;\n' "$1" >&3
  for _ in $(seq 100); do
    sqlite3 kavro.db 'BEGIN IMMEDIATE; ROLLBACK;' 2>/dev/null || return 0
    sleep 0.05
  done
  echo "FAIL: the lock was never taken" >&2 && exit 1
}
write_locked() { hold_lock EXCLUSIVE; }
reserved() { hold_lock IMMEDIATE; }
unwritable_directory() { chmod 555 .; }
read_only_file() { make_database && chmod 444 kavro.db; }

all='addcode delcode lscodes vercode'
cases=(  # setup | commands | runner
  "random_bytes|$all|"
  "truncated|$all|"
  "directory|$all|"
  "missing_column|addcode|"
  "write_locked|$all|"
  "reserved|addcode delcode|"
  "unwritable_directory|$all|as_other_user"
  "read_only_file|addcode delcode|as_other_user"
)
failures=0
for row in "${cases[@]}"; do
  IFS='|' read -r setup commands runner <<<"$row"
  mkdir -m 755 "$dir/$setup" && cd "$dir/$setup"
  $setup
  before=$(snapshot)
  for command in $commands; do
    $runner "$kavro" "$command" --key=KEY --site=s --account=a --id=1 --code=123456 >../out 2>../err &&
      status=0 || status=$?
    after=$(snapshot)
    if [ "$status" != 1 ] || [ -s ../out ] || [ "$(wc -l <../err)" != 1 ] || ! grep -q '^Error [a-z ]*: ' ../err ||
      [ "$before" != "$after" ]; then
      echo "FAIL: $setup, $command: status $status, stdout '$(cat ../out)', stderr '$(cat ../err)'" >&2
      failures=$((failures + 1))
    fi
    printf '%-22s %-8s %s\n' "$setup" "$command" "$(cat ../err)"
  done
  exec 3>&-
  wait
  rm -f "$dir/lock"
  cd "$dir"
done
exit $((failures > 0))
