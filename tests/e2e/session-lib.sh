# shellcheck shell=bash
# The sourcing script sets session_name and script and uses what
# parse_arguments and start_accessibility_bus set.
# shellcheck disable=SC2034,SC2154
# Sourced by headless-desktop and wayland-session: the command line, the
# private environment and bus configuration, the session bus and the
# accessibility bus start-up, and the teardown they share. The caller sets
# session_name (for messages) and script (its own path, run again inside).
#
# Every process a session starts carries E2E_SESSION_ID in its environment;
# teardown ends all of them, on success, failure, timeout and signals alike.

readonly startup_limit=20   # seconds for each start-up step

die_startup() {
  echo "$session_name: $*" >&2
  tail -n 20 "$E2E_SESSION_WORK"/*.log >&2 2>/dev/null
  exit 125
}

# Polls "$@" every 0.1 s until it succeeds or startup_limit passes.
wait_until() {
  local deadline=$((SECONDS + startup_limit))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# Runs the command, bounded by the optional timeout. timeout(1) gives the
# command its own process group, so a timeout ends its children too.
run_command() {
  ${timeout_seconds:+timeout --kill-after=5 "$timeout_seconds"} "$@"
}

# Sets timeout_seconds and command. With --inside-session (this script run
# again on its session bus) runs the caller's inside_session instead.
parse_arguments() {
  timeout_seconds=""
  local inside=""
  while (($#)); do
    case $1 in
      --timeout) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; timeout_seconds=$2; shift 2 ;;
      --inside-session) inside=1; shift ;;
      --) shift; break ;;
      *) usage ;;
    esac
  done
  (($#)) || usage
  command=("$@")
  if [[ -n $inside ]]; then
    inside_session "$@"
    exit
  fi
}

usage() {
  echo "usage: $session_name [--timeout SECONDS] -- COMMAND [ARGS...]" >&2
  exit 2
}

# --- inside the session bus --------------------------------------------------

# The accessibility bus's address, from the session bus; then its registry
# (which the bus starts when asked) answers on it.
registry_answers() {
  local address
  address=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.a11y.Bus.GetAddress) || return 1
  # gdbus prints ('unix:path=...,guid=...',)
  address=${address#*\'}
  gdbus call --address "${address%\'*}" --dest org.a11y.atspi.Registry \
    --object-path /org/a11y/atspi/accessible/root \
    --method org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible ChildCount
}

# Takes the caller's stderr back from fd 9 (the bus daemons keep the log),
# launches the accessibility bus (--a11y=1, never persisted) and returns once
# its registry answers. Sets launcher_pid.
start_accessibility_bus() {
  exec 2>&9 9>&-
  local launcher
  for launcher in /usr/libexec/at-spi-bus-launcher \
    /usr/lib/at-spi2-core/at-spi-bus-launcher /usr/lib/at-spi-bus-launcher; do
    [[ -x $launcher ]] && break
  done
  [[ -x $launcher ]] || die_startup "at-spi-bus-launcher not found"
  "$launcher" --launch-immediately --a11y=1 \
    >"$E2E_SESSION_WORK/at-spi-bus-launcher.log" 2>&1 &
  launcher_pid=$!
  wait_until registry_answers ||
    die_startup "the accessibility bus or its registry did not answer"
}

# --- outside -------------------------------------------------------------------

# Runs this script ($script) again at its inside stage on a private session
# bus, through the as_user command prefix. The bus daemons log to
# session-bus.log; the stage gets stderr back from fd 9.
on_session_bus() {
  "${as_user[@]}" dbus-run-session --config-file="$E2E_SESSION_WORK/session-bus.xml" -- \
    "$BASH" "$script" --inside-session ${timeout_seconds:+--timeout "$timeout_seconds"} \
    -- "${command[@]}" 9>&2 2>>"$E2E_SESSION_WORK/session-bus.log"
}

# Ends every process that carries this session's id, TERM first, KILL for the
# ones still there after a bounded wait. Only bash builtins read /proc here,
# so the scan starts no marked process of its own.
end_marked_processes() {
  local signal pass pid environ found IFS=$'\n'
  local -a entries
  for pass in {1..21}; do
    found=0
    if ((pass == 1)); then signal=TERM; elif ((pass < 21)); then signal=0; else signal=KILL; fi
    for environ in /proc/[0-9]*/environ; do
      pid=${environ#/proc/}
      pid=${pid%/environ}
      [[ $pid == "$$" || $pid == "$BASHPID" ]] && continue
      mapfile -d "" entries 2>/dev/null <"$environ" || continue
      if [[ $'\n'"${entries[*]}"$'\n' == *$'\n'"E2E_SESSION_ID=$E2E_SESSION_ID"$'\n'* ]]; then
        found=1
        kill -s "$signal" "$pid" 2>/dev/null
      fi
    done
    ((found)) || return 0
    ((pass < 21)) && sleep 0.1
  done
}

# Ends the session: Xvfb, sway and the buses are marked processes too.
teardown() {
  trap '' INT TERM HUP
  end_marked_processes
  [[ -n ${E2E_SESSION_WORK:-} ]] && rm -rf -- "$E2E_SESSION_WORK"
}

# Marks the session, arms the teardown, cuts the session off from any bus,
# display or settings of the caller, and writes the session bus's
# configuration. $1 is the XDG session type.
begin_session() {
  E2E_SESSION_ID="$$-$RANDOM$RANDOM"
  as_user=()
  E2E_SESSION_WORK=$(mktemp -d "${TMPDIR:-/tmp}/$session_name.XXXXXX") || exit 125
  export E2E_SESSION_ID E2E_SESSION_WORK
  trap teardown EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM

  unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS NO_AT_BRIDGE WAYLAND_DISPLAY \
    DISPLAY SWAYSOCK I3SOCK XAUTHORITY SESSION_MANAGER DESKTOP_AUTOSTART_ID
  export XDG_SESSION_TYPE=$1 GSETTINGS_BACKEND=memory XDG_RUNTIME_DIR=$E2E_SESSION_WORK/runtime \
    XDG_CONFIG_HOME=$E2E_SESSION_WORK/config XDG_CACHE_HOME=$E2E_SESSION_WORK/cache \
    XDG_DATA_HOME=$E2E_SESSION_WORK/data
  mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"

  sed "s|@RUNTIME_DIR@|$XDG_RUNTIME_DIR|" "${BASH_SOURCE[0]%/*}/session-bus.xml" \
    >"$E2E_SESSION_WORK/session-bus.xml"
}
