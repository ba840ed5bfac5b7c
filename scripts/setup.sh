#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quillon need.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
  # input side: the driver manager and real ODBC drivers
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql sqlite3
  # output side: the compound-file library and the independent readers the tests use (the npm
  # package mdb-reader is installed into build/ from tests/drivers/access/package.json by npm)
  libgsf-1-dev libgsf-bin python3 python3-xlrd mdbtools libreoffice-calc-nogui gnumeric
  # the ODBC driver (odbcdriver/) tested through pyodbc and PHP's odbc
  python3-pyodbc php-cli php-odbc
  # .xlsx: the zip container, deflate and the XML reader; openpyxl and pandas read workbooks back
  libminizip-dev zlib1g-dev libxml2-dev python3-openpyxl python3-pandas
  # Apache POI, run by java, as a second writer of the workbooks
  libapache-poi-java openjdk-17-jre-headless
  # the dialog under X, and a font for it
  xvfb xauth x11-utils fonts-dejavu-core
  # fuzzing and sanitizers
  clang libclang-rt-14-dev
  # make bench: instruction counts per thread
  valgrind
)

# node and npm for mdb-reader: Debian's npm (which brings nodejs) unless a node with its own npm
# is already installed, such as NodeSource's nodejs package.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "setup: installing missing packages: ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  echo "setup: not running as root; asking sudo to install them"
  as_root=(sudo)
else
  echo "setup: these packages are missing and installing them needs root (no sudo found):" >&2
  echo "setup:   apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
