#!/usr/bin/env bash
# Stop-to-link benchmark: how long after "stop" the reserved share link is on the clipboard,
# for a 60-second 1080p recording paused twice (three segment files), next to `cp` of the same
# segment bytes in the same run. The program side (publish_bench) runs the app's own recording
# control and publishing against the local reference service; only the screen recorder is
# replaced, by one that copies segments made here beforehand into place. In between the stop
# and the link lie the join of the segments, the size and silence checks, the credential store,
# the link reservation and the clipboard. Prints both times and their ratio (goal: at most 3),
# each the best of a few runs taking turns, and how long the whole share took.
# Usage: bench/publish.sh [microphone on|off, default on]   (after a build; BUILD_DIR defaults to build)
# It always runs inside scripts/test-env.sh: the program needs a display, and it keeps the
# refresh token in a credential store, which must not be the user's own.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
if [ "${TOVRIKA_TEST_ENV:-}" != 1 ]; then exec scripts/test-env.sh "$self" "$@"; fi
mic="${1:-on}"
case "$mic" in on | off) ;; *) echo "usage: bench/publish.sh [on|off]" >&2; exit 2 ;; esac
bin="${BUILD_DIR:-build}/bin/publish_bench"
server="${BUILD_DIR:-build}/bin/tovrika-server"
work=$(mktemp -d)
server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
# The program's log goes here rather than into the session's.
export XDG_STATE_HOME="$work/state"
# The captures folders are made below $work: the program's temporary folder must lie elsewhere,
# or it takes the recordings for temporary files, which get no place in the recents list.
mkdir "$work/tmp"

now() { date +%s.%N; }
since() { printf '%.3f' "$(echo "$(now) - $1" | bc)"; }
ratio() { printf '%.3f' "$(echo "scale=4; $1 / $2" | bc)"; }
field() { printf '%s' "$1" | sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p"; }
duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
# Reads the files into the page cache for both contenders and answers their size.
warm() { cat "$@" | wc -c; }
# Times `cp` of the files into a fresh folder, then removes the copies.
time_cp() {
  mkdir "$work/copy"
  sync
  local start
  start=$(now)
  cp "$@" "$work/copy/"
  since "$start"
  rm -rf "$work/copy"
}
# Each contender runs this many times, the two taking turns, and its best time counts: on a
# virtual machine a write now and then takes several times longer, whichever side it falls on.
runs=3

"$server" --port 0 --data "$work/data" --auto-approve ana.ferreira@brisvale.example >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 1 100); do grep -q "listening on" "$work/server.out" 2>/dev/null && break; sleep 0.1; done
origin=$(sed -n 's/.*listening on \(http[^ ]*\).*/\1/p' "$work/server.out")
[ -n "$origin" ] || { echo "the service did not start:" >&2; cat "$work/server.err" >&2; exit 1; }
tenant="5f0c3b9e-8a41-4d2b-9c7e-1a6f2e4d8b30"
client="b7e4a1d2-3c5f-4e8a-9b6d-0f2c4a8e1d57"
scope="openid%20profile%20offline_access%20api%3A%2F%2Fe2a9c4f1-7b3d-4a6e-8c5b-9d1f0e3a7c24%2Faccess_as_user"
export TOVRIKA_API_BASE="$origin/api" TOVRIKA_AUTHORITY="$origin/$tenant"

# Signs in with PKCE through the auto-approving authority and answers the refresh token. Each
# run gets one of its own: the service hands out a new one on every refresh and takes a used
# one as a sign of theft.
refresh_token() {
  local verifier challenge location code
  verifier=$(head -c 32 /dev/urandom | base64 | tr '+/' '-_' | tr -d '=')
  challenge=$(printf '%s' "$verifier" | openssl dgst -sha256 -binary | base64 | tr '+/' '-_' | tr -d '=')
  location=$(curl -s -o /dev/null -w '%{redirect_url}' \
    "$origin/$tenant/oauth2/v2.0/authorize?client_id=$client&response_type=code&redirect_uri=tovrika%3A%2F%2Fauth&response_mode=query&scope=$scope&code_challenge=$challenge&code_challenge_method=S256&state=s&prompt=select_account")
  code=$(printf '%s' "$location" | sed -n 's/.*[?&]code=\([^&]*\).*/\1/p')
  curl -s "$origin/$tenant/oauth2/v2.0/token" -d "grant_type=authorization_code&code=$code&code_verifier=$verifier&redirect_uri=tovrika%3A%2F%2Fauth&client_id=$client&scope=$scope" |
    sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p'
}

# Three segments of 25, 20 and 15 seconds, shaped like the recorder's: H.264 1080p at 30 fps,
# a keyframe every second, no B-frames, fragmented MP4, with the microphone's AAC track when
# it is on. The bit rate is held at 8 Mbit/s, that of a busy screen; a tone keeps the sound
# from looking silent.
mkdir "$work/takes"
segment() {
  local audio=()
  [ "$mic" = on ] && audio=(-f lavfi -i "sine=frequency=440:sample_rate=48000" -c:a aac -b:a 128k -ac 2)
  timeout 900 ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30" "${audio[@]}" -t "$1" \
    -c:v libx264 -preset ultrafast -g 30 -bf 0 -pix_fmt yuv420p -b:v 8M -maxrate 8M -bufsize 8M \
    -movflags frag_keyframe+empty_moov+default_base_moof "$2"
}
segment 25 "$work/takes/segment-1.mp4"
segment 20 "$work/takes/segment-2.mp4"
segment 15 "$work/takes/segment-3.mp4"
segments=("$work"/takes/segment-{1,2,3}.mp4)
segment_durations=$(for s in "${segments[@]}"; do printf '%.1f ' "$(duration "$s")"; done)

bytes=$(warm "${segments[@]}")
cp_times=() ours=() joins=() checks=() shared=()
for i in $(seq "$runs"); do
  cp_times+=("$(time_cp "${segments[@]}")")
  captures="$work/captures-$i"
  token=$(refresh_token)
  [ -n "$token" ] || { echo "signing in failed" >&2; exit 1; }
  sync
  if ! result=$(printf '%s\n' "$token" | TMPDIR="$work/tmp" TOVRIKA_CAPTURES_DIR="$captures" timeout 600 "$bin" --mic "$mic" "${segments[@]}" 2>"$work/bench.err"); then
    echo "publish_bench failed:" >&2
    cat "$work/bench.err" >&2
    tail -n 20 "$XDG_STATE_HOME/Tovrika/Tovrika.log" >&2 2>/dev/null || true
    exit 1
  fi
  ours+=("$(field "$result" seconds)")
  joins+=("$(field "$result" joined_seconds)")
  checks+=("$(field "$result" publishing_seconds)")
  shared+=("$(field "$result" shared_seconds)")
  credentials=$(field "$result" credentials)
  link=$(field "$result" link)
  joined=$(printf '%s' "$result" | sed -n 's/.* joined=\(.*\)$/\1/p')
  joined_bytes=$(stat -c %s "$joined")
  joined_duration=$(duration "$joined")
  rm -rf "$captures"
done

cp_seconds=$(best "${cp_times[@]}") ours_seconds=$(best "${ours[@]}")
echo "recording: 3 segments of ${segment_durations% }s, bytes=$bytes; microphone $mic; askForCaptureName off; credentials in $credentials"
echo "           joined: $joined_duration s, $joined_bytes bytes; last link $link"
echo "cp:        cp_seconds=$cp_seconds  (best of $runs: ${cp_times[*]})"
echo "tovrika:   stop to link on the clipboard: seconds=$ours_seconds  (best of $runs: ${ours[*]})"
echo "           of which, from the stop: segments joined at ${joins[*]} s; checks done, publish begun at ${checks[*]} s"
echo "           stop to shared (upload and share link done): best $(best "${shared[@]}") s  (${shared[*]})"
echo "time ratio (tovrika / cp): $(ratio "$ours_seconds" "$cp_seconds")  (goal <= 3)"
