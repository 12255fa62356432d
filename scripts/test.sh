#!/bin/sh
# Installs the packages, builds with warnings as errors and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."
scripts/packages.sh
scripts/build.sh build -DTW_WERROR=ON
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j "$(nproc)"
