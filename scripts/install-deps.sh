#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Pelorin Studio need.
# Idempotent; works as root or through sudo.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  qt6-base-dev qt6-declarative-dev qt6-quick3d-dev qt6-shadertools-dev
  qml6-module-qtquick qml6-module-qtquick-templates qml6-module-qtquick-controls
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtquick-dialogs
  qml6-module-qtquick-shapes qml6-module-qtqml qml6-module-qtqml-models
  qml6-module-qtqml-workerscript qml6-module-qt-labs-folderlistmodel qml6-module-quick3d
  qml6-module-quick3d-helpers qml6-module-qttest qml6-module-qt5compat-graphicaleffects libqt6svg6
  libssl-dev libasio-dev nlohmann-json3-dev libicu-dev libavahi-client-dev
  libopencv-dev libheif-dev libqrencode-dev colmap libexif-dev libsqlite3-dev xdg-utils
  # tests
  libgtest-dev libgmock-dev libbenchmark-dev avahi-daemon avahi-utils dbus iproute2 xvfb xauth libgl1-mesa-dri unzip
  # the package and its checks
  dpkg-dev desktop-file-utils appstream
  zbar-tools xdotool
  # benchmark baselines
  assimp-utils
)
# Node.js runs the glTF validator; a machine may already have a newer Node.js of its own.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
else
  echo "install-deps: installing ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The glTF validator that the GLB tests run, pinned by its lock file.
validator="$(dirname "$0")/../tests/validator"
if [ ! -d "$validator/node_modules/gltf-validator" ]; then
  npm ci --prefix "$validator" --no-audit --no-fund
fi
