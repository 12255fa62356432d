#!/bin/sh
# Builds the programs and starts Tunewisp from its program folder (build/bin).
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh build
bin=build/bin
# Tunewisp hands over to its set-up wizard when the program folder has no "default.set". While the
# wizard is not part of the build, an empty settings file (no presets) lets Tunewisp run.
if [ ! -e "$bin/default.set" ] && [ ! -x "$bin/Knobwarden" ]; then
  : > "$bin/default.set"
fi
exec "$bin/Tunewisp"
