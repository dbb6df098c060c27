#!/usr/bin/env bash
# Join and rewrite benchmark: three fragmented-MP4 segments shaped like the recorder's (H.264
# and AAC, here at a high bit rate), about 1 GB together, finished the way the app does (joined,
# then rewritten with the index at the front) and, in the same run, copied with `cp`. Prints the
# throughput ratio (cp seconds / ours; goal: at least 0.5).
# Usage: bench/join.sh [total size, default 1G]   (after a build; BUILD_DIR defaults to build)
set -euo pipefail
cd "$(dirname "$0")/.."
size="${1:-1G}"
bin="${BUILD_DIR:-build}/bin/join_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program's log goes here rather than into the user's.
export XDG_STATE_HOME="$work/state"

# One segment of a third of the size, not timed, copied twice: the join does not mind that the
# pictures repeat. Lossless x264 keeps the bit rate high, so the file grows quickly.
bytes=$(numfmt --from=iec "$size")
timeout 900 ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080:rate=30 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -ac 2 -c:a aac -b:a 128k \
  -c:v libx264 -preset ultrafast -qp 0 -g 30 -bf 0 -pix_fmt yuv420p \
  -movflags frag_keyframe+empty_moov+default_base_moof -fs $((bytes / 3)) "$work/segment-1.mp4"
cp "$work/segment-1.mp4" "$work/segment-2.mp4"
cp "$work/segment-1.mp4" "$work/segment-3.mp4"
segments=("$work"/segment-{1,2,3}.mp4)
total=$(cat "${segments[@]}" | wc -c) # also reads them into the page cache for both contenders
mkdir "$work/copy"

# Each contender starts without the other's dirty pages still waiting to be written.
sync
start=$(date +%s.%N)
cp "${segments[@]}" "$work/copy/"
cp_seconds=$(printf '%.3f' "$(echo "$(date +%s.%N) - $start" | bc)")
rm -rf "$work/copy"
sync

result=$(timeout 900 "$bin" "$work/joined.mp4" "${segments[@]}")
field() { printf '%s' "$result" | sed -n "s/.*\\b$1=\\([0-9.]*\\).*/\\1/p"; }
ours_seconds=$(field seconds)

duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
# faststart puts the index (moov) before the pictures (mdat).
index_first=no
[ "$(grep -a -o -m1 -E 'moov|mdat' "$work/joined.mp4" | head -n 1)" = moov ] && index_first=yes
echo "bytes=$total cp_seconds=$cp_seconds tovrika_seconds=$ours_seconds (join $(field join_seconds), rewrite $(field rewrite_seconds))"
echo "joined: $(duration "$work/joined.mp4") s from 3 x $(duration "$work/segment-1.mp4") s, index at the front: $index_first"
echo "throughput ratio (cp / tovrika): $(printf '%.3f' "$(echo "scale=4; $cp_seconds / $ours_seconds" | bc)")  (goal >= 0.5)"
