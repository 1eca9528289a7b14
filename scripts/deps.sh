#!/usr/bin/env bash
# Installs the Debian packages Quarvel needs to build, run and test, when any is missing.
# Sourced by the other scripts; installs as root, or through sudo.
set -euo pipefail

quarvel_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-format
  xvfb xauth xdotool x11-utils openbox wmctrl socat netcat-openbsd
  locales fonts-dejavu-core procps iproute2
  desktop-file-utils appstream dpkg-dev file
)

quarvel_missing_packages() {
  local missing=()
  for p in "${quarvel_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]:-}"
}

quarvel_install_deps() {
  local missing
  missing=$(quarvel_missing_packages)
  [ -z "$missing" ] && return 0
  echo "Installing: $missing" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
}
