#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite through CTest:
# the GoogleTest suites (unit, integration) and, in a separate clang build, the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/start-services.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$jobs"
ctest --test-dir build --output-on-failure --parallel "$jobs" --label-exclude fuzz

if [ "${PELORIN_SKIP_FUZZ:-0}" != 1 ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DPELORIN_FUZZ=ON
  cmake --build build-fuzz --parallel "$jobs"
  if [ -n "$(ctest --test-dir build-fuzz -N -L fuzz | grep -E '^ +Test +#')" ]; then
    ctest --test-dir build-fuzz --output-on-failure -L fuzz
  fi
fi
