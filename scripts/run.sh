#!/bin/sh
# Builds the programs and starts Tunewisp from its program folder (build/bin). On the first start
# the folder has no "default.set": Tunewisp hands over to its set-up wizard, Knobwarden, which
# writes it and starts Tunewisp again at its end.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh build
exec build/bin/Tunewisp
