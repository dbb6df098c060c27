#!/usr/bin/env bash
# Starts Tovrika for a person at the keyboard. Without a display (a bare server, an SSH
# session) it runs inside the private test desktop so that it still starts.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display found; starting Tovrika inside a private virtual desktop" >&2
  exec scripts/test-env.sh build/bin/tovrika "$@"
fi
exec build/bin/tovrika "$@"
