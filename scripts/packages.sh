#!/bin/sh
# Installs every Debian 12 package that building, running and testing need.
# Usage: scripts/packages.sh [--run]   (--run adds the larger SoundFont that sounds better to users)
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
PACKAGES="
cmake ninja-build g++ pkg-config file
qt6-base-dev qt6-translations-l10n
libfluidsynth-dev libjack-jackd2-dev timgm6mb-soundfont
portaudio19-dev
libmp3lame-dev libvorbis-dev libogg-dev libmad0 libmpg123-dev libsoxr-dev
libgtest-dev
clang libclang-rt-14-dev
xvfb xauth
fluidsynth lame
"
if [ "${1:-}" = "--run" ]; then
  PACKAGES="$PACKAGES fluid-soundfont-gm"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# shellcheck disable=SC2086
$SUDO apt-get install -y --no-install-recommends $PACKAGES
