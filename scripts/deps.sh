#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing.
set -euo pipefail

PACKAGES="build-essential clang clang-format clang-tidy cmake pkg-config libsqlite3-dev sqlite3 googletest libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev libgl-dev libxlsxwriter-dev zlib1g-dev libicu-dev libpq-dev postgresql openssl qt6-translations-l10n xvfb xauth openbox xdotool x11-apps x11-utils netpbm desktop-file-utils appstream dpkg-dev file man-db locales"

missing=()
for pkg in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The tests run once more under a Spanish desktop's locale (decimal comma).
if ! locale -a 2>/dev/null | grep -qix 'es_ES.utf8'; then
  echo "Generating the es_ES.UTF-8 locale"
  $SUDO localedef -i es_ES -c -f UTF-8 es_ES.UTF-8
fi
