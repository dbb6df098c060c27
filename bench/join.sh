#!/usr/bin/env bash
# Join and rewrite benchmark: the two ways the app finishes a recording, each timed against
# `cp` of its own input bytes in the same run. (1) A recording of several segments is only
# joined (the join writes the index at the front): three fragmented-MP4 segments shaped like
# the recorder's (H.264 and AAC, here at a high bit rate), about the given size together.
# (2) A recording of one segment is only rewritten in place with its index at the front: one
# fragmented-MP4 segment of about the given size. Prints each throughput ratio (cp seconds /
# ours; goal: at least 0.5), each from the best of a few runs.
# Usage: bench/join.sh [total size, default 1G]   (after a build; BUILD_DIR defaults to build)
set -euo pipefail
cd "$(dirname "$0")/.."
size="${1:-1G}"
bin="${BUILD_DIR:-build}/bin/join_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program's log goes here rather than into the user's.
export XDG_STATE_HOME="$work/state"

now() { date +%s.%N; }
since() { printf '%.3f' "$(echo "$(now) - $1" | bc)"; }
ratio() { printf '%.3f' "$(echo "scale=4; $1 / $2" | bc)"; }
field() { printf '%s' "$1" | sed -n "s/.*\\b$2=\\([0-9.]*\\).*/\\1/p"; }
duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
# The file's top-level boxes, in order, as ffprobe reads them.
top_boxes() { ffprobe -v trace "$1" 2>&1 | sed -n "s/.*type:'\([a-z0-9 ]*\)' parent:'root'.*/\1/p"; }
# faststart puts the whole index (moov) before the pictures (mdat); a fragmented file has
# further pieces of index (moof) between them.
index_first() {
  local boxes
  boxes=$(top_boxes "$1")
  if grep -qx moof <<<"$boxes"; then echo "no (fragmented)"
  elif [ "$(grep -m1 -x -E 'moov|mdat' <<<"$boxes")" = moov ]; then echo yes
  else echo no; fi
}
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
# The shortest of the times given.
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
# Each contender runs this many times, the two taking turns, and its best time counts: on a
# virtual machine, memory given back to the host makes a single write of a gigabyte take up to
# several times longer now and then, whichever contender it falls on.
runs=3

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
segment_duration=$(duration "$work/segment-1.mp4")

# (1) Several segments: joined. Each contender starts without the other's dirty pages still
# waiting to be written.
join_bytes=$(warm "${segments[@]}")
join_cp=() join_ours=()
for _ in $(seq "$runs"); do
  join_cp+=("$(time_cp "${segments[@]}")")
  rm -f "$work/joined.mp4"
  sync
  result=$(timeout 900 "$bin" join "$work/joined.mp4" "${segments[@]}")
  join_ours+=("$(field "$result" seconds)")
done
joined_duration=$(duration "$work/joined.mp4")
joined_index_first=$(index_first "$work/joined.mp4")

# (2) One segment: rewritten in place. The input is the joined recording written again as one
# fragmented segment, as the recorder writes it (more index after every fragment); the rewrite
# replaces its file, so each run gets a fresh copy of it, made before the clock starts.
timeout 900 ffmpeg -nostdin -v error -i "$work/joined.mp4" -map 0 -c copy \
  -movflags frag_keyframe+empty_moov+default_base_moof "$work/single.mp4"
rm -f "$work/joined.mp4" "${segments[@]}"
single_duration=$(duration "$work/single.mp4")
single_index_first=$(index_first "$work/single.mp4")
single_bytes=$(warm "$work/single.mp4")
rewrite_cp=() rewrite_ours=()
for _ in $(seq "$runs"); do
  rewrite_cp+=("$(time_cp "$work/single.mp4")")
  rm -f "$work/rewritten.mp4"
  cp "$work/single.mp4" "$work/rewritten.mp4"
  sync
  result=$(timeout 900 "$bin" rewrite "$work/rewritten.mp4")
  rewrite_ours+=("$(field "$result" seconds)")
done

join_cp_seconds=$(best "${join_cp[@]}") join_seconds=$(best "${join_ours[@]}")
rewrite_cp_seconds=$(best "${rewrite_cp[@]}") rewrite_seconds=$(best "${rewrite_ours[@]}")
echo "join:    bytes=$join_bytes cp_seconds=$join_cp_seconds tovrika_seconds=$join_seconds  (best of $runs; cp ${join_cp[*]}, tovrika ${join_ours[*]})"
echo "         joined: $joined_duration s from 3 x $segment_duration s, index at the front: $joined_index_first"
echo "rewrite: bytes=$single_bytes cp_seconds=$rewrite_cp_seconds tovrika_seconds=$rewrite_seconds  (best of $runs; cp ${rewrite_cp[*]}, tovrika ${rewrite_ours[*]})"
echo "         rewritten: $(duration "$work/rewritten.mp4") s from $single_duration s, index at the front: $(index_first "$work/rewritten.mp4") (before: $single_index_first)"
echo "join throughput ratio (cp / tovrika):    $(ratio "$join_cp_seconds" "$join_seconds")  (goal >= 0.5)"
echo "rewrite throughput ratio (cp / tovrika): $(ratio "$rewrite_cp_seconds" "$rewrite_seconds")  (goal >= 0.5)"
