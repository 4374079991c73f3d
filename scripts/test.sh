#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite through CTest:
# the GoogleTest suites (unit, integration) against a private D-Bus system bus and a
# loopback-only Avahi daemon that this script starts and stops; the link integration tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer; and, in a separate clang build,
# the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# The daemons live only as long as this script; they are stopped by PID, never by name.
services_dir=$(mktemp -d /tmp/pelorin-services.XXXXXX)
PELORIN_SERVICE_PIDS=""
stop_services() {
    for pid in $PELORIN_SERVICE_PIDS; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$services_dir"
}
trap stop_services EXIT
if services=$(scripts/start-services.sh "$services_dir"); then
    eval "$services"
    export DBUS_SYSTEM_BUS_ADDRESS
else
    # The tests that need the daemon fail on CI and skip elsewhere.
    echo "test.sh: the DNS-SD test services are not available" >&2
fi

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$jobs"
ctest --test-dir build --output-on-failure --parallel "$jobs" --label-exclude fuzz

if [ "${PELORIN_SKIP_ASAN:-0}" != 1 ]; then
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPELORIN_BUILD_APP=OFF -DPELORIN_BUILD_BENCHMARKS=OFF \
        "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
    cmake --build build-asan --parallel "$jobs" \
        --target pelorin_link_transport_tests pelorin_link_avahi_tests
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan/link --output-on-failure -L integration
fi

if [ "${PELORIN_SKIP_FUZZ:-0}" != 1 ]; then
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DPELORIN_FUZZ=ON
    cmake --build build-fuzz --parallel "$jobs"
    if [ -n "$(ctest --test-dir build-fuzz -N -L fuzz | grep -E '^ +Test +#')" ]; then
        ctest --test-dir build-fuzz --output-on-failure --parallel "$jobs" -L fuzz
    fi
fi
