#!/usr/bin/env bash
# `make run` without a display, as CI runs it: scripts/run-demo must print
# both result lists with rows and write both PNGs. Small demo data and a
# free port keep it quick and out of the way of a real demo.
set -euo pipefail
source=$1
build=$2
work=$(mktemp -d "$build/make-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A loopback port nothing listens on, below the kernel's range of ephemeral
# ports (32768 up), which other tests' client connections take meanwhile.
port=
for _ in $(seq 50); do
  candidate=$((20000 + RANDOM % 12000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || { echo "no free port" >&2; exit 1; }

out=$work/out.txt
env -u DISPLAY -u WAYLAND_DISPLAY MPAY_RUN_DIR="$work/run" MPAY_DEMO_ROWS=3000 \
  MPAY_RUN_PORT="$port" MPAY_RUN_KEEP=0 timeout 120 bash "$source/scripts/run-demo" "$build" |
  tee "$out"

fail() {
  echo "make_run_test: $*" >&2
  exit 1
}
grep -q '^工单编号  *手机号码  *业务类型' "$out" || fail "no log table"
grep -q '^用户编号  *手机号码  *交易密码' "$out" || fail "no user table"
[ "$(grep -cE '^\([1-9][0-9]* rows?\)$' "$out")" = 2 ] || fail "a table has no rows"
grep -q '^run-demo: back office stopped' "$out" || fail "the back office was not stopped"
grep -q "^mpay-host: signed in as demo (OP_ID 1001, the demo database's operator)" "$out" ||
  fail "the host did not say whom it signed in"
grep -qE '^run-demo: its metrics on http://127\.0\.0\.1:[0-9]+/metrics' "$out" ||
  fail "no metrics address"
for png in log-query user-query; do
  file=$work/run/$png.png
  grep -qF "$file" "$out" || fail "$png.png is not named"
  [ "$(head -c 4 "$file" | tail -c 3)" = PNG ] || fail "$file is not a PNG"
done
[ "$(stat -c %a "$work/run")" = 700 ] || fail "the runtime folder is not the user's only"

# A runtime folder that another user owns or may write to is refused before
# anything is written in it.
mkdir -m 777 "$work/open"
mkdir -m 700 "$work/theirs"
chown 65534 "$work/theirs" 2>/dev/null || rmdir "$work/theirs"
for folder in "$work/open" "$work/theirs"; do
  [ -d "$folder" ] || continue
  refused=0
  MPAY_RUN_DIR=$folder bash "$source/scripts/run-demo" "$build" >"$work/refused.txt" 2>&1 ||
    refused=$?
  [ "$refused" = 1 ] || fail "run-demo took $folder: $(cat "$work/refused.txt")"
  grep -q "refusing the runtime folder $folder" "$work/refused.txt" || fail "no reason for $folder"
  [ -z "$(ls -A "$folder")" ] || fail "run-demo wrote into $folder"
done
echo "make_run_test: both tables and both PNGs; unsafe runtime folders refused"
