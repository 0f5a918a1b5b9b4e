#!/usr/bin/env bash
# Checks a package built by scripts/package.sh: its file list, its dependencies, the
# programs, manual pages and maintainer script in the unpacked tree, and the units with
# systemd's checker.
# Usage: check-package.sh DEB
set -euo pipefail
deb=$1
fail() { echo "check-package: $*" >&2; exit 1; }

version=$(dpkg-deb -f "$deb" Version)

# Exactly these files, nothing from the build or the tests.
expected="./lib/systemd/system/orvane-pellwick.service
./lib/systemd/system/orvane-pellwick@.service
./usr/bin/modemsim
./usr/bin/pellwick
./usr/bin/pellwick-pdu
./usr/lib/orvane-pellwick/libpellwick-window.so
./usr/share/doc/orvane-pellwick/PellwickManual.html
./usr/share/doc/orvane-pellwick/copyright
./usr/share/man/man1/modemsim.1.gz
./usr/share/man/man1/pellwick-pdu.1.gz
./usr/share/man/man8/pellwick.8.gz
./usr/share/orvane-pellwick/schema/mysql.sql
./usr/share/orvane-pellwick/schema/postgresql.sql
./usr/share/orvane-pellwick/schema/sqlite.sql"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = "$expected" ] || fail "file list differs:
$(diff <(echo "$expected") <(echo "$files") || true)"

# Dependencies: found in the binaries, plus what is loaded at run time.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libsystemd0 libodbc2 libsqlite3-0 adduser libodbcinst2; do
  [[ ", $depends," == *", $p "* || ", $depends," == *", $p,"* ]] || fail "Depends lacks $p: $depends"
done

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
dpkg-deb -e "$deb" "$tree/DEBIAN"
for script in postinst prerm postrm; do
  [ -x "$tree/DEBIAN/$script" ] || fail "no executable $script"
  sh -n "$tree/DEBIAN/$script" || fail "$script does not parse"
done

# A first install's postinst, run for real in a private mount namespace on copies of /etc
# and /var/lib: it creates the user pellwick in dialout and the private state folder.
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  result=$(unshare -m sh -c '
    set -e
    mkdir "$1/etc" "$1/var-lib"
    cp -a /etc/. "$1/etc"
    mount --bind "$1/etc" /etc
    mount --bind "$1/var-lib" /var/lib
    "$1/DEBIAN/postinst" configure >&2
    id -nG pellwick
    stat -c "%U %a" /var/lib/orvane-pellwick' sh "$tree" 2>&1) || fail "postinst failed: $result"
  [ "$(printf '%s\n' "$result" | tail -n 2)" = "pellwick dialout
pellwick 700" ] || fail "postinst did not create the user and the state folder: $result"
else
  echo "check-package: not root or no mount namespace, the postinst is not run" >&2
fi

"$tree/usr/bin/pellwick-pdu" encode --to +4917012345678 --text Hello >/dev/null || fail "pellwick-pdu does not run"

for page in man8/pellwick.8 man1/pellwick-pdu.1 man1/modemsim.1; do
  name=$(basename "$page" | sed 's/\.[0-9]$//')
  text=$(MANWIDTH=80 man -l "$tree/usr/share/man/$page.gz" 2>/dev/null) || fail "man -l $page failed"
  grep -q "^NAME" <<<"$text" && grep -q "^ *$name - " <<<"$text" || fail "$page has no NAME section for $name"
done
grep -q '<h1' "$tree/usr/share/doc/orvane-pellwick/PellwickManual.html" || fail "the HTML manual is empty"

# systemd's own check of the units. It wants ExecStart to exist, so a copy points at the
# unpacked program; the page named by Documentation= is looked up in the unpacked tree.
# The template is checked as the instance sim2.
units=$tree/lib/systemd/system
grep -qx 'ExecStart="/usr/bin/pellwick"' "$units/orvane-pellwick.service" ||
  fail "the unit does not start /usr/bin/pellwick"
grep -qx 'ExecStart="/usr/bin/pellwick" -instance %i' "$units/orvane-pellwick@.service" ||
  fail "the template does not start /usr/bin/pellwick -instance %i"
grep -qx 'StateDirectory=orvane-pellwick/%i' "$units/orvane-pellwick@.service" ||
  fail "the template does not give each instance a state folder of its own"
mkdir "$tree/verify"
for unit in orvane-pellwick.service orvane-pellwick@sim2.service; do
  sed "s|^ExecStart=\"/usr/bin/pellwick\"|ExecStart=\"$tree/usr/bin/pellwick\"|" "$units/${unit/@sim2/@}" >"$tree/verify/$unit"
  verify=$(MANPATH=$tree/usr/share/man systemd-analyze verify "$tree/verify/$unit" 2>&1) ||
    fail "systemd-analyze verify $unit failed: $verify"
  [ -z "$verify" ] || fail "systemd-analyze verify $unit complained: $verify"
done
out=$("$tree/usr/bin/pellwick" --version 2>&1 </dev/null) || true
[ "$out" = "pellwick $version" ] || fail "pellwick --version printed '$out', expected 'pellwick $version'"
echo "check-package: $deb is good"
