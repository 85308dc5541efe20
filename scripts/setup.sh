#!/usr/bin/env bash
# Installs the Debian packages the project needs (when run as root) and
# says which are missing otherwise.
set -euo pipefail
packages=(g++ cmake make zlib1g-dev libgtest-dev libgmock-dev zip unzip 7zip python3 locales
          qt6-base-dev xvfb xauth clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -eq 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run 'sudo make setup' (or install them with apt-get)" >&2
  exit 1
fi
