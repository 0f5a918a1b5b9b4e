#!/usr/bin/env bash
# Checks the packages built by scripts/package.sh: their file lists and dependencies,
# the run paths of their programs, the programs, manual pages and maintainer scripts in
# the unpacked tree, the units with systemd's checkers, and (as root) an install, remove
# and purge with dpkg inside a private mount namespace that leaves the machine as it was.
# Usage: check-package.sh SERVER-DEB DESKTOP-DEB
set -euo pipefail
server=$1
desktop=$2
root=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "check-package: $*" >&2; exit 1; }

version=$(dpkg-deb -f "$server" Version)
[ "$(dpkg-deb -f "$server" Package)" = orvane-pellwick ] || fail "$server is not orvane-pellwick"
[ "$(dpkg-deb -f "$desktop" Package)" = orvane-pellwick-desktop ] || fail "$desktop is not orvane-pellwick-desktop"
[ "$(dpkg-deb -f "$desktop" Version)" = "$version" ] || fail "the packages have different versions"

# Exactly these files, nothing from the build or the tests; the simulator off the PATH.
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sort; }
expect_files() {
  local files
  files=$(files_of "$1")
  [ "$files" = "$2" ] || fail "the file list of $1 differs:
$(diff <(echo "$2") <(echo "$files") || true)"
}
expect_files "$server" "./lib/systemd/system/orvane-pellwick.service
./lib/systemd/system/orvane-pellwick@.service
./usr/bin/pellwick
./usr/bin/pellwick-pdu
./usr/lib/orvane-pellwick/modemsim
./usr/share/doc/orvane-pellwick/PellwickManual.html
./usr/share/doc/orvane-pellwick/copyright
./usr/share/man/man1/modemsim.1.gz
./usr/share/man/man1/pellwick-pdu.1.gz
./usr/share/man/man8/pellwick.8.gz
./usr/share/orvane-pellwick/schema/mysql.sql
./usr/share/orvane-pellwick/schema/postgresql.sql
./usr/share/orvane-pellwick/schema/sqlite.sql"
expect_files "$desktop" "./usr/lib/orvane-pellwick/libpellwick-window.so
./usr/share/doc/orvane-pellwick-desktop/copyright"

# Dependencies: found in the binaries, plus what is loaded at run time. The server pulls
# in no Qt; the window takes Qt and exactly this version of the server.
depends_on() {
  local depends
  depends=$(dpkg-deb -f "$1" Depends)
  [[ ", $depends," == *", $2 "* || ", $depends," == *", $2,"* ]] || fail "$1: Depends lacks $2: $depends"
}
for p in libc6 libstdc++6 libsystemd0 libodbc2 libsqlite3-0 adduser libodbcinst2; do depends_on "$server" "$p"; done
for p in libqt6widgets6 libqt6gui6; do depends_on "$desktop" "$p"; done
depends_on "$desktop" "orvane-pellwick (= $version)"
! dpkg-deb -f "$server" Depends | grep -qi qt || fail "the server package depends on Qt: $(dpkg-deb -f "$server" Depends)"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$server" "$tree"
dpkg-deb -x "$desktop" "$tree"
dpkg-deb -e "$server" "$tree/DEBIAN"
for script in postinst prerm postrm; do
  [ -x "$tree/DEBIAN/$script" ] || fail "no executable $script"
  sh -n "$tree/DEBIAN/$script" || fail "$script does not parse"
done

# No shipped program or module searches the current folder, a relative one or the
# checkout for libraries.
bash "$root/scripts/check-runpath.sh" "$tree/usr" "$root" || fail "a shipped ELF file has an unsafe run path"

# Installed, removed and purged by dpkg on overlays of /usr, /etc and /var in a private
# mount namespace: an account pellwick that a person logs in with is refused; the
# package's own account and state folder are made; remove keeps the folder, purge
# deletes it with the settings, the PIN and the database password.
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  result=$(unshare -m bash -s "$server" "$desktop" "$tree/layers" <<'SCRIPT' 2>&1
    set -euo pipefail
    layers=$3
    mkdir "$layers"
    mount -t tmpfs tmpfs "$layers"
    for d in usr etc var; do
      mkdir "$layers/$d" "$layers/$d.work"
      mount -t overlay overlay -o "lowerdir=/$d,upperdir=$layers/$d,workdir=$layers/$d.work" "/$d"
    done
    state=/var/lib/orvane-pellwick
    useradd --no-create-home --shell /bin/bash pellwick
    if dpkg -i "$1" >"$layers/refused" 2>&1; then echo "a login account pellwick was adopted"; exit 1; fi
    grep -q "account pellwick .* is not" "$layers/refused" || { cat "$layers/refused"; exit 1; }
    userdel pellwick
    dpkg --configure orvane-pellwick >/dev/null
    dpkg -i "$2" >/dev/null
    echo "user: $(id -nG pellwick)"
    echo "state: $(stat -c '%U %a' "$state")"
    echo "modemsim: $(command -v modemsim || echo none) $(test -x /usr/lib/orvane-pellwick/modemsim && echo lib)"
    for secret in Pellwick.pin Pellwick.ini Pellwick.conf Pellwick.http-token sim2/Pellwick.pin; do
      mkdir -p "$(dirname "$state/$secret")"
      echo secret >"$state/$secret"
    done
    dpkg -r orvane-pellwick-desktop orvane-pellwick >/dev/null
    echo "removed: $(cd "$state" && ls -d Pellwick.* sim2/* | tr '\n' ' ')"
    dpkg -P orvane-pellwick-desktop orvane-pellwick >/dev/null
    echo "purged: $(test -e "$state" && echo "$state is left" || echo gone)"
SCRIPT
  ) || fail "install, remove and purge failed: $result"
  [ "$result" = "user: pellwick dialout
state: pellwick 700
modemsim: none lib
removed: Pellwick.conf Pellwick.http-token Pellwick.ini Pellwick.pin sim2/Pellwick.pin 
purged: gone" ] || fail "install, remove and purge went wrong: $result"
else
  echo "check-package: not root or no mount namespace, the packages are not installed" >&2
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
  # The sandbox: systemd's exposure score, 0 (locked down) to 10, at most 2.0.
  exposure=$(systemd-analyze security --offline=true "$tree/verify/$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
  [ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' ||
    fail "systemd-analyze security rates $unit at '${exposure:-nothing}', more than 2.0"
done
out=$("$tree/usr/bin/pellwick" --version 2>&1 </dev/null) || true
[ "$out" = "pellwick $version" ] || fail "pellwick --version printed '$out', expected 'pellwick $version'"
echo "check-package: $server and $desktop are good"
