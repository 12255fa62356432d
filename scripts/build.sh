#!/bin/sh
# Configures and builds the project.  Usage: scripts/build.sh [build-dir] [extra cmake options...]
set -eu
cd "$(dirname "$0")/.."
dir=${1:-build}
[ $# -gt 0 ] && shift
cmake -S . -B "$dir" -G Ninja "$@"
cmake --build "$dir" --parallel "$(nproc)"
