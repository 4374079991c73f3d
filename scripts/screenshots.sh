#!/usr/bin/env bash
# Makes the window's pictures in docs/screenshots from a real run: builds the studio, the phone
# stand-in (pelorin-phone) and the screenshot driver, then builds the sample statue at medium
# detail with the real backend under Xvfb, taking the welcome page, the pairing panel with the
# phone connected, the job mid-way and the finished model. Takes as long as the sample takes to
# build (tens of minutes on two cores). Pictures go to docs/screenshots, or to the folder given.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PELORIN_BUILD_DIR:-build}
out=${1:-docs/screenshots}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELORIN_BUILD_TESTS=ON -DPELORIN_BUILD_BENCHMARKS=ON
cmake --build "$build" --parallel "$(nproc)" --target pelorin-studio pelorin-phone window_screenshots
LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb QSG_RHI_BACKEND=opengl \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/studio/app/window_screenshots" --phone "$build/tools/phone/pelorin-phone" --out "$out"
