#!/usr/bin/env bash
# Runs one command inside a private, desktop-less session and exits with its
# status:
#
#   scripts/test-env.sh COMMAND [ARGS...]
#
# The session has its own HOME and XDG directories, an Xvfb display split into
# two monitors, a private D-Bus session bus with a notification server (hidden,
# but every Notify call is recorded), an unlocked Secret Service and a
# PulseAudio server with a null sink. Nothing of the caller's desktop leaks in
# and nothing started here outlives the command, whichever way it ends.
#
# Exported to COMMAND:
#   HOME XDG_CONFIG_HOME XDG_STATE_HOME XDG_DATA_HOME XDG_CACHE_HOME
#   XDG_RUNTIME_DIR               all inside one private temp dir
#   DISPLAY                       the Xvfb display, 3200x1080, with monitors
#                                 *LEFT 1920x1080+0+0 and RIGHT 1280x720+1920+0
#   QT_QPA_PLATFORM=xcb
#   DBUS_SESSION_BUS_ADDRESS      the private session bus
#   TOVRIKA_TEST_NOTIFICATIONS_LOG  dbus-monitor output of every Notify call
#   PULSE_SERVER                  the private PulseAudio (default sink ci_sink)
#   whatever gnome-keyring-daemon prints (GNOME_KEYRING_CONTROL, ...)
#   TOVRIKA_TEST_ENV=1
#
# Xvfb and D-Bus are required; the notification server, keyring and audio are
# optional: if one fails we warn and go on, so only the tests needing it fail.
# Exit status: COMMAND's, or 125 when the environment itself could not start.

# Trap handlers and the commands handed to wait_for run indirectly.
# shellcheck disable=SC2317
set -euo pipefail

readonly fail_status=125

log() { printf 'test-env: %s\n' "$*" >&2; }
warn() { log "warning: $*"; }
die() {
  log "error: $*"
  exit "$fail_status"
}

# Last lines of a helper's log, indented, so a failure explains itself.
show_log() {
  [ -s "$1" ] && tail -n 8 "$1" | sed 's/^/    /' >&2
  return 0
}

# A zombie still answers kill -0, so look at the process state instead.
alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# Polls "$@" every 0.1 s, at most TRIES times; gives up early once PID is dead.
wait_for() {
  local pid=$1 tries=$2 i
  shift 2
  for ((i = 0; i < tries; i++)); do
    "$@" 2>/dev/null && return 0
    alive "$pid" || return 1
    sleep 0.1
  done
  return 1
}

# TERM, up to 5 s of grace, then KILL, then reap: all of them are our children.
stop_pid() {
  local pid=$1 i
  if alive "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < 50; i++)); do
      alive "$pid" || break
      sleep 0.1
    done
    if alive "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
  fi
  # Only a zombie needs reaping. Bash can lose track of a child reaped while a
  # trap interrupted "wait", and would then block here until every other
  # child had exited.
  if [ -e "/proc/$pid" ]; then wait "$pid" 2>/dev/null || true; fi
}

helper_pids=()
cmd_pid=

cleanup() {
  local status=$? i
  # A second Ctrl-C must not cut the cleanup short; every wait here is bounded.
  trap '' HUP INT TERM
  [ -z "$cmd_pid" ] || stop_pid "$cmd_pid"
  # Newest first: the X server and the bus outlive their clients.
  for ((i = ${#helper_pids[@]} - 1; i >= 0; i--)); do
    stop_pid "${helper_pids[i]}"
  done
  rm -rf "$root"
  exit "$status"
}

bus_has_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}

# Starts Xvfb on the first free display from 90 on. -displayfd reports the
# number only once the server is ready and really ours, which makes two
# concurrent runs safe: the loser of a race dies on the lock and moves on.
start_xvfb() {
  local n pid failures=0
  # shellcheck disable=SC2174 # /tmp exists; only the socket dir needs the mode
  mkdir -p -m 1777 /tmp/.X11-unix
  for ((n = 90; n < 190 && failures < 5; n++)); do
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then continue; fi
    : >"$root/display"
    # Without -noreset the server resets when its last client leaves, and the
    # monitors set below vanish with it.
    Xvfb ":$n" -screen 0 3200x1080x24 -noreset -nolisten tcp -displayfd 3 \
      3>"$root/display" </dev/null >>"$root/xvfb.log" 2>&1 &
    pid=$!
    helper_pids+=("$pid")
    if wait_for "$pid" 100 grep -qx "$n" "$root/display"; then
      export DISPLAY=":$n"
      wait_for "$pid" 100 xrandr --query >/dev/null && return 0
      show_log "$root/xvfb.log"
      die "Xvfb on :$n does not answer"
    fi
    stop_pid "$pid"
    # Losing the display to a concurrent run is no reason to give up.
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      failures=$((failures + 1))
    fi
  done
  show_log "$root/xvfb.log"
  die "could not start Xvfb"
}

# Xinerama does not work with Xvfb; RandR monitors are what Qt reads as screens.
split_monitors() {
  if ! xrandr --setmonitor '*LEFT' 1920/508x1080/286+0+0 screen >/dev/null ||
    ! xrandr --setmonitor RIGHT 1280/339x720/190+1920+0 none >/dev/null ||
    ! xrandr --listmonitors | grep -qx 'Monitors: 2'; then
    die "could not split $DISPLAY into two monitors"
  fi
}

# Without a session bus of our own, Qt, libsecret and libnotify would autolaunch
# stray daemons. This bus has no service directories, so nothing is activated
# behind our back (accessibility bus, keyring prompter, a second dunst...):
# every process on it is one we started and will stop. We run dbus-daemon
# ourselves rather than through dbus-run-session, which leaves the daemon
# unreaped when it exits.
start_dbus() {
  local dir=$root
  dir=${dir//&/&amp;}
  dir=${dir//</&lt;}
  dir=${dir//>/&gt;}
  cat >"$root/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:dir=$dir</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  <limit name="max_incoming_bytes">1000000000</limit>
  <limit name="max_outgoing_bytes">1000000000</limit>
  <limit name="max_message_size">1000000000</limit>
  <limit name="max_replies_per_connection">50000</limit>
  <limit name="max_match_rules_per_connection">50000</limit>
  <limit name="max_connections_per_user">100000</limit>
</busconfig>
EOF
  dbus-daemon --nofork --config-file="$root/bus.conf" --print-address=3 \
    3>"$root/bus.address" </dev/null >"$root/dbus.log" 2>&1 &
  local pid=$!
  helper_pids+=("$pid")
  # The address is printed once the daemon listens.
  if ! wait_for "$pid" 100 test -s "$root/bus.address"; then
    show_log "$root/dbus.log"
    die "dbus-daemon did not start"
  fi
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$root/bus.address")
  export DBUS_SESSION_BUS_ADDRESS
  bus_has_name org.freedesktop.DBus || die "the session bus does not answer"
}

start_notifications() {
  export TOVRIKA_TEST_NOTIFICATIONS_LOG=$root/notifications.log
  : >"$TOVRIKA_TEST_NOTIFICATIONS_LOG"
  # dbus-monitor flushes after every message, so tests can read the log while
  # the command runs.
  dbus-monitor --session \
    "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    </dev/null >"$TOVRIKA_TEST_NOTIFICATIONS_LOG" 2>"$root/dbus-monitor.log" &
  local monitor_pid=$!
  helper_pids+=("$monitor_pid")
  # Its first output is the NameLost that becoming a monitor causes: from
  # then on no Notify call can slip by unrecorded.
  if ! wait_for "$monitor_pid" 100 grep -q NameLost "$TOVRIKA_TEST_NOTIFICATIONS_LOG"; then
    show_log "$root/dbus-monitor.log"
    warn "dbus-monitor did not start: notifications will not be recorded"
    return 1
  fi

  # Popups would land in the screenshots the tests take, so dunst keeps every
  # notification hidden; what was posted is read from the log instead.
  cat >"$root/dunstrc" <<'EOF'
[global]
    icon_position = off
    history_length = 0
    dmenu = /bin/false
    browser = /bin/false

[hide_all]
    appname = "*"
    skip_display = true
EOF
  dunst -config "$root/dunstrc" </dev/null >"$root/dunst.log" 2>&1 &
  local dunst_pid=$!
  helper_pids+=("$dunst_pid")
  if ! wait_for "$dunst_pid" 100 bus_has_name org.freedesktop.Notifications; then
    show_log "$root/dunst.log"
    warn "dunst did not start: nothing answers org.freedesktop.Notifications"
    return 1
  fi
}

secret_probe() {
  timeout 10 secret-tool store --label=probe service tovrika-test-env account probe <<<value &&
    [ "$(timeout 10 secret-tool lookup service tovrika-test-env account probe)" = value ] &&
    timeout 10 secret-tool clear service tovrika-test-env account probe
}

start_keyring() {
  # With a fresh HOME, --unlock creates the "login" keyring with this password
  # and leaves it unlocked and default, so nothing ever prompts. --foreground
  # keeps the daemon our child, to be stopped by PID.
  printf '%s' tovrika | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >"$root/keyring.env" 2>"$root/keyring.log" &
  local keyring_pid=$!
  helper_pids+=("$keyring_pid")
  if ! wait_for "$keyring_pid" 100 bus_has_name org.freedesktop.secrets; then
    show_log "$root/keyring.log"
    warn "gnome-keyring-daemon did not start: no Secret Service"
    return 1
  fi
  local line
  while IFS= read -r line; do
    if [[ $line =~ ^[A-Z_][A-Z0-9_]*= ]]; then export "${line?}"; fi
  done <"$root/keyring.env"
  if ! secret_probe >/dev/null 2>>"$root/keyring.log"; then
    show_log "$root/keyring.log"
    warn "the Secret Service does not store and return secrets"
    return 1
  fi
}

start_pulse() {
  # A client that finds no server would otherwise spawn one we do not track.
  mkdir -p "$XDG_CONFIG_HOME/pulse"
  printf 'autospawn = no\n' >"$XDG_CONFIG_HOME/pulse/client.conf"
  # The same command line works as root (it only warns) and as a user.
  pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no -n \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=ci_sink" \
    --load=module-always-sink \
    </dev/null >"$root/pulse.log" 2>&1 &
  local pulse_pid=$!
  helper_pids+=("$pulse_pid")
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  if ! wait_for "$pulse_pid" 100 pactl info >/dev/null ||
    ! pactl set-default-sink ci_sink >>"$root/pulse.log" 2>&1; then
    show_log "$root/pulse.log"
    warn "PulseAudio did not start: no audio"
    return 1
  fi
}

if [ $# -eq 0 ] || [ "$1" = -h ] || [ "$1" = --help ]; then
  echo "usage: ${0##*/} COMMAND [ARGS...]" >&2
  echo "Runs COMMAND in a private Xvfb + D-Bus + keyring + PulseAudio session." >&2
  exit 2
fi

# CI may start us with stdin closed, which would break forwarding it below.
[ -e "/proc/$$/fd/0" ] || exec </dev/null

root=$(mktemp -d "${TMPDIR:-/tmp}/tovrika-env.XXXXXXXX")
chmod 0700 "$root"
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Whatever desktop the caller has must not be seen by the command.
unset WAYLAND_DISPLAY WAYLAND_SOCKET XAUTHORITY SESSION_MANAGER \
  XDG_SESSION_TYPE XDG_SESSION_DESKTOP XDG_CURRENT_DESKTOP DESKTOP_SESSION \
  XDG_SESSION_ID XDG_SEAT XDG_VTNR DBUS_SESSION_BUS_ADDRESS DBUS_SESSION_BUS_PID \
  AT_SPI_BUS_ADDRESS GNOME_KEYRING_CONTROL \
  PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_COOKIE \
  PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_CLIENTCONFIG \
  QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE QT_SCALE_FACTOR \
  QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING

export HOME=$root/home
export XDG_CONFIG_HOME=$HOME/.config XDG_STATE_HOME=$HOME/.local/state
export XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$root/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb

start_xvfb
split_monitors
start_dbus
started=("DISPLAY=$DISPLAY" dbus)
if start_notifications; then started+=(notifications); fi
if start_keyring; then started+=(keyring); fi
if start_pulse; then started+=(pulse); fi
export TOVRIKA_TEST_ENV=1
log "${started[*]}"

# A command started in the background from a script ignores SIGINT and reads
# /dev/null; undo both so Ctrl-C and stdin reach it as usual. It runs in the
# background so that a signal sent to us is handled at once, not after it ends.
env --default-signal=INT,QUIT "$@" <&0 &
cmd_pid=$!
status=0
wait "$cmd_pid" || status=$?
cmd_pid=
exit "$status"
