#!/bin/sh
# Installs the packages, builds with warnings as errors and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."
scripts/packages.sh
scripts/build.sh build -DTW_WERROR=ON
cd build
# Tests never touch the user's own mixer state.
export SOFTCARD_STATE_DIR="${SOFTCARD_STATE_DIR:-$(mktemp -d)}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j "$(nproc)"
