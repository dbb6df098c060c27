#!/usr/bin/env bash
# Screen recording benchmark: a screen whose picture scrolls continuously, recorded without
# sound at 30 fps by the program's recorder and then by the ffmpeg command line with the same
# x11grab and x264 settings, in the same run. Prints the frames each delivered and dropped, the
# CPU seconds ratio (goal: at most 1.1) and the delivered frame rate (goal: at least 29).
# Usage: bench/record.sh [seconds, default 20]   (after a build; BUILD_DIR defaults to build)
# Without a DISPLAY it runs itself inside scripts/test-env.sh, whose primary monitor is
# 1920x1080 at +0+0; with one, it records that display's primary screen.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
if [ -z "${DISPLAY:-}" ]; then exec scripts/test-env.sh "$self" "$@"; fi
seconds="${1:-20}"
fps=30
bin="${BUILD_DIR:-build}/bin/record_bench"
work=$(mktemp -d)
animation_pid=""
cleanup() { [ -n "$animation_pid" ] && kill "$animation_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
# The recorder writes its log here rather than into the user's.
export XDG_STATE_HOME="$work/state"

"$bin" --animate >"$work/animate.out" 2>"$work/animate.err" &
animation_pid=$!
for _ in $(seq 1 100); do grep -q animating "$work/animate.out" && break; sleep 0.1; done
grep -q animating "$work/animate.out" || { echo "the animation did not start:" >&2; cat "$work/animate.err" >&2; exit 1; }

ours=$(timeout $((seconds + 60)) "$bin" --record "$work/tovrika.mp4" "$seconds") || { echo "$ours" >&2; exit 1; }
field() { printf '%s' "$ours" | sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
grab=$(field grab)
ours_cpu=$(field cpu_seconds)

# FfmpegScreenRecording's settings on the command line: x11grab with the cursor, bilinear
# conversion to yuv420p, x264 ultrafast at crf 23 with a keyframe every second and no B-frames,
# fragmented MP4 flushed on every packet. Like ours, each grabbed picture takes the slot of the
# 30 fps clock its grab time falls into, and one landing in a slot already filled is dropped.
TIMEFORMAT='%3U %3S'
{ time timeout $((seconds + 60)) ffmpeg -nostdin -v error \
  -f x11grab -framerate "$fps" -video_size "${grab%%+*}" -grab_x "$(echo "$grab" | cut -d+ -f2)" \
  -grab_y "$(echo "$grab" | cut -d+ -f3)" -draw_mouse 1 -i "$DISPLAY" -t "$seconds" \
  -r "$fps" -fps_mode vfr -sws_flags bilinear -pix_fmt yuv420p \
  -c:v libx264 -preset ultrafast -crf 23 -g "$fps" -bf 0 \
  -movflags frag_keyframe+empty_moov+default_base_moof -flush_packets 1 -an "$work/ffmpeg.mp4" \
  2>"$work/ffmpeg.err"; } 2>"$work/ffmpeg.time" || { cat "$work/ffmpeg.err" >&2; exit 1; }
ffmpeg_cpu=$(awk '{ printf "%.3f", $1 + $2 }' "$work/ffmpeg.time")

# "delivered rate dropped": frames in the file, frames per second over the time they span,
# and the frames missing from that span at the nominal rate.
frames() {
  ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$1" |
    awk -v fps="$fps" 'NR == 1 { lo = $1; hi = $1 } { if ($1 < lo) lo = $1; if ($1 > hi) hi = $1; n++ }
      END { span = hi - lo + 1 / fps; d = int(span * fps + 0.5) - n; printf "%d %.2f %d\n", n, n / span, d < 0 ? 0 : d }'
}
read -r ours_frames ours_rate ours_dropped < <(frames "$work/tovrika.mp4")
read -r ffmpeg_frames ffmpeg_rate ffmpeg_dropped < <(frames "$work/ffmpeg.mp4")
# The recorder's own count of dropped frames also takes in grabs that fell into a frame's slot
# already filled, so it may be higher than the gaps counted here.
# x264 writes its full option list into the stream: the two must match.
options() { grep -a -o -m1 'options: [ -~]*' "$1" || true; }
same=no
[ "$(options "$work/tovrika.mp4")" = "$(options "$work/ffmpeg.mp4")" ] && same=yes

echo "grab=$grab seconds=$seconds fps=$fps x264 options identical: $same"
echo "tovrika: delivered=$ours_frames dropped=$ours_dropped (recorder's own count: written=$(field written) dropped=$(field dropped)) cpu_seconds=$ours_cpu"
echo "ffmpeg:  delivered=$ffmpeg_frames dropped=$ffmpeg_dropped cpu_seconds=$ffmpeg_cpu"
echo "cpu ratio (tovrika / ffmpeg): $(printf '%.3f' "$(echo "scale=4; $ours_cpu / $ffmpeg_cpu" | bc)")  (goal <= 1.1)"
echo "delivered frame rate: tovrika $ours_rate fps, ffmpeg $ffmpeg_rate fps  (goal >= 29)"
