#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Installs nothing when everything is present; uses sudo when not root.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libssl-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  curl
  softhsm2 opensc
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
