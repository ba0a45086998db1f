#!/usr/bin/env bash
# The README's first command: on a fresh Debian 12 machine, installs what is missing, builds the
# programs (the command-line tool and the wizard) and runs the tool's demo on a simulated receiver (write, read back, compare).
# Arguments go to `flashmate demo`, e.g. --protocol 32 for a legacy boot loader.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target flashmate flashmate-gui
build/bin/flashmate demo "$@"
