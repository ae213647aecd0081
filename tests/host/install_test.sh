#!/usr/bin/env bash
# `cmake --install` into a fresh prefix: every file in its place, every
# RPATH relative and without empty entries, the binaries hardened (but in
# the sanitizer build), and the installed host finds the module with no option.
# Usage: install_test.sh BUILD SOURCE [--hardened]
set -euo pipefail
build=$1
source=$2
check_elf_options=${3:-}
prefix=$(mktemp -d "$build/install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() {
  echo "install_test: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/mpay-host bin/mpay-backoffice lib/mpay/libtoolkit.so lib/mpay/libtmclient.so \
  lib/mpay/libtmclient_nats.so lib/mpay/libtmguicommon.so lib/mpay/libtradekit.so \
  lib/mpay/libledgerkit.so lib/mpay/modules/libmicropaylog.so share/applications/mpay-host.desktop \
  share/icons/hicolor/scalable/apps/mpay-host.svg etc/mpay/backoffice.conf etc/tmclient/brokers.conf; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for elf in "$prefix"/bin/* "$prefix"/lib/mpay/*.so "$prefix"/lib/mpay/modules/*.so; do
  runpath=$(readelf -d "$elf" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
  case "$runpath" in
    '' | '$ORIGIN'*) ;;
    *) fail "$elf has the RPATH '$runpath'" ;;
  esac
done
bash "$source/scripts/check-elf" $check_elf_options "$prefix" || fail "installed binaries"
grep -q '^Exec=mpay-host$' "$prefix/share/applications/mpay-host.desktop" || fail "desktop entry"

# The back office's unit runs the installed program, and systemd reads it
# without a complaint where its tools are installed.
unit=$prefix/lib/systemd/system/mpay-backoffice.service
grep -q "^ExecStart=$prefix/bin/mpay-backoffice --config $prefix/etc/mpay/backoffice.conf$" "$unit" ||
  fail "the unit does not run $prefix/bin/mpay-backoffice with its configuration"
if command -v systemd-analyze >/dev/null; then
  complaints=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $complaints"
  [ -z "$complaints" ] || fail "systemd-analyze verify: $complaints"
fi

# Nothing listens on the broker's port: the window still opens.
out=$(printf 'open 10001\nstate chkQryUser\n' |
  env -u LD_LIBRARY_PATH TMCLIENT_BROKER_TALMIRON=tcp://127.0.0.1:9 timeout 60 \
    "$prefix/bin/mpay-host" --headless 2>"$prefix/host.err") || fail "the host failed: $out $(cat "$prefix/host.err")"
grep -q $'^state\tchkQryUser\tchecked=0\tenabled=1\ttext=用户信息$' <<<"$out" || fail "no window: $out"

# A nats:// broker: the installed client library loads the installed NATS one
# (nobody listens, so the bind fails as a connection failure).
out=$(printf 'open 10001\n' |
  env -u LD_LIBRARY_PATH TMCLIENT_BROKER_TALMIRON='nats://127.0.0.1:9?broker=TALMIRON&deadline_ms=2000' \
    timeout 60 "$prefix/bin/mpay-host" --headless 2>"$prefix/host.err") || true
if grep -q 'NATS transport cannot be loaded' "$prefix/host.err"; then
  fail "the NATS transport was not found: $(cat "$prefix/host.err")"
fi
echo "install_test: installed and found the module and the NATS transport"
