#!/usr/bin/env bash
# Blob upload benchmark: a 2 GB file sent to the local reference service by the program's
# uploader and by `curl --upload-file`, in the same run. Prints the throughput ratio (goal:
# at least 0.8) and the uploader's peak memory growth (goal: under 50 MB).
# Usage: bench/upload.sh [size, default 2G]   (after `make build`)
set -euo pipefail
cd "$(dirname "$0")/.."
size="${1:-2G}"
work=$(mktemp -d)
server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

build/bin/tovrika-server --port 0 --data "$work/data" --auto-approve ana.ferreira@brisvale.example >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 1 100); do grep -q "listening on" "$work/server.out" 2>/dev/null && break; sleep 0.1; done
origin=$(sed -n 's/.*listening on \(http[^ ]*\).*/\1/p' "$work/server.out")
tenant="5f0c3b9e-8a41-4d2b-9c7e-1a6f2e4d8b30"
client="b7e4a1d2-3c5f-4e8a-9b6d-0f2c4a8e1d57"
scope="openid%20profile%20offline_access%20api%3A%2F%2Fe2a9c4f1-7b3d-4a6e-8c5b-9d1f0e3a7c24%2Faccess_as_user"
agent="Tovrika/0.1.0 (1)"

# Sign in with PKCE through the auto-approving authority, then ask for two upload addresses.
verifier=$(head -c 32 /dev/urandom | base64 | tr '+/' '-_' | tr -d '=')
challenge=$(printf '%s' "$verifier" | openssl dgst -sha256 -binary | base64 | tr '+/' '-_' | tr -d '=')
location=$(curl -s -o /dev/null -w '%{redirect_url}' \
  "$origin/$tenant/oauth2/v2.0/authorize?client_id=$client&response_type=code&redirect_uri=tovrika%3A%2F%2Fauth&response_mode=query&scope=$scope&code_challenge=$challenge&code_challenge_method=S256&state=s&prompt=select_account")
code=$(printf '%s' "$location" | sed -n 's/.*[?&]code=\([^&]*\).*/\1/p')
token=$(curl -s "$origin/$tenant/oauth2/v2.0/token" -d "grant_type=authorization_code&code=$code&code_verifier=$verifier&redirect_uri=tovrika%3A%2F%2Fauth&client_id=$client&scope=$scope" |
  sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
upload_url() {
  curl -s "$origin/api/recordings/upload-url" -H "Authorization: Bearer $token" -H "User-Agent: $agent" \
    -H 'Content-Type: application/json' -d '{"contentType":"video/mp4"}' | sed -n 's/.*"uploadUrl":"\([^"]*\)".*/\1/p' | sed 's/\\//g'
}

head -c "$size" /dev/urandom >"$work/big.bin"
bytes=$(stat -c %s "$work/big.bin")

start=$(date +%s.%N)
curl -s -o /dev/null -f -T "$work/big.bin" -H 'x-ms-blob-type: BlockBlob' -H 'Content-Type: video/mp4' "$(upload_url)"
curl_seconds=$(echo "$(date +%s.%N) - $start" | bc)

result=$(build/bin/upload_bench "$work/big.bin" "$(upload_url)")
ours_seconds=$(printf '%s' "$result" | sed -n 's/.*seconds=\([0-9.]*\).*/\1/p')
growth_kb=$(printf '%s' "$result" | sed -n 's/.*peak_growth_kb=\([0-9]*\).*/\1/p')

echo "bytes=$bytes curl_seconds=$curl_seconds tovrika_seconds=$ours_seconds"
echo "throughput ratio (tovrika / curl): $(echo "scale=3; $curl_seconds / $ours_seconds" | bc)  (goal >= 0.8)"
echo "peak memory growth: $((growth_kb / 1024)) MB, ratio to the 50 MB budget: $(echo "scale=3; $growth_kb / 51200" | bc)  (goal < 1)"
