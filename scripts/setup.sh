#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: only missing packages are installed, after one apt-get update.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libxcb1-dev libsystemd-dev
  libmicrohttpd-dev nlohmann-json3-dev libcurl4-openssl-dev libssl-dev
  unixodbc unixodbc-dev odbcinst libodbcinst2 libsqliteodbc odbc-postgresql libsqlite3-dev
  sqlite3 postgresql mariadb-server odbc-mariadb dbus-daemon
  gammu smstools libgammu-dev
  xvfb xauth x11-utils xdotool trayer imagemagick chromium fonts-dejavu-core
  procps psmisc
  pandoc dpkg-dev man-db systemd ccache
  nlohmann-json3-dev libcurl4-openssl-dev libssl-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  # Services shipped by these packages (postgresql, mariadb, smstools) are started by the tests themselves.
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
