#!/usr/bin/env bash
# Starts the reference service (its data kept under the user's state folder, reused on the
# next run) and then Tovrika pointed at it. Without a display (a bare server, an SSH session)
# both run inside the private test desktop so that the program still starts.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${TOVRIKA_TEST_ENV:-}" ]; then
  echo "run: no display found; starting inside a private virtual desktop" >&2
  exec scripts/test-env.sh "$0" "$@"
fi

port="${TOVRIKA_SERVER_PORT:-8321}"
origin="http://127.0.0.1:$port"
data="${XDG_STATE_HOME:-$HOME/.local/state}/Tovrika/server"
tenant="5f0c3b9e-8a41-4d2b-9c7e-1a6f2e4d8b30"
mkdir -p "$data"

server_pid=""
stop_server() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null; true; }
trap stop_server EXIT

if curl --silent --fail --max-time 2 "$origin/healthz" >/dev/null 2>&1; then
  echo "run: a reference service already answers on $origin; using it" >&2
else
  build/bin/tovrika-server --port "$port" --data "$data" >>"$data/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 100); do
    curl --silent --fail --max-time 1 "$origin/healthz" >/dev/null 2>&1 && break
    kill -0 "$server_pid" 2>/dev/null || { echo "run: tovrika-server did not start; see $data/server.log" >&2; exit 1; }
    sleep 0.1
  done
  echo "run: reference service on $origin (data in $data)" >&2
fi

export TOVRIKA_API_BASE="$origin/api"
export TOVRIKA_AUTHORITY="$origin/$tenant"
build/bin/tovrika "$@"
