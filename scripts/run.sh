#!/usr/bin/env bash
# Sets up, builds and opens the launcher. Arguments go to the program
# (for example -automount).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DORVANDE_TESTS=OFF
exec "$root/build/orvande" "$@"
