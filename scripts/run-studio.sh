#!/usr/bin/env bash
# Installs what is needed, builds Pelorin Studio and starts it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)" --target pelorin-studio
exec build/studio/app/pelorin-studio "$@"
