#!/usr/bin/env bash
# scripts/check-deps: passes on a machine that has everything (this one, once
# install-deps ran), and names what is missing when a tool or a library is not
# there, so that `make deps` installs instead of letting cmake fail.
set -euo pipefail
check="$1/scripts/check-deps"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bash "$check"

# The same tools, but no clang.
mkdir "$work/bin"
for tool in cmake ninja pkg-config c++ nats-server sqlite3 xvfb-run fc-list grep; do
  ln -s "$(command -v "$tool")" "$work/bin/$tool"
done
if PATH="$work/bin" /bin/bash "$check" 2>"$work/err"; then
  echo "check-deps passed without clang" >&2
  exit 1
fi
grep -q "clang clang++" "$work/err" || { cat "$work/err" >&2; exit 1; }

# No library that pkg-config knows of.
mkdir "$work/pc"
if PKG_CONFIG_LIBDIR="$work/pc" PKG_CONFIG_PATH="" bash "$check" 2>"$work/err"; then
  echo "check-deps passed without GoogleTest" >&2
  exit 1
fi
for module in gtest gmock benchmark libpq libsodium openssl; do
  grep -q "$module (pkg-config)" "$work/err" || { cat "$work/err" >&2; exit 1; }
done

# A desktop with hundreds of fonts: the font is found however early in a long
# list it stands (a reader that stops at the first match would kill fc-list
# with SIGPIPE once the list outgrows the pipe's buffer).
mkdir "$work/fonts"
cat >"$work/fonts/fc-list" <<'FONTS'
#!/bin/bash
echo "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc: WenQuanYi Micro Hei,文泉驛微米黑:style=Regular"
for i in $(seq 1 400); do
  printf '/usr/share/fonts/truetype/desktop/font-%03d.ttf: Desktop Font %03d:style=Regular%0150d\n' "$i" "$i" 0
done
FONTS
chmod +x "$work/fonts/fc-list"
PATH="$work/fonts:$PATH" bash "$check"
