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

# Sets timeout_seconds, inside (set by --inside-session, this script's own
# stage on the session bus) and command.
parse_arguments() {
  timeout_seconds=""
  inside=""
  while (($#)); do
    case $1 in
      --timeout)
        if (($# < 2)) || ! [[ $2 =~ ^[1-9][0-9]*$ ]]; then usage; fi
        timeout_seconds=$2
        shift 2
        ;;
      --inside-session) inside=1; shift ;;
      --) shift; break ;;
      *) usage ;;
    esac
  done
  (($#)) || usage
  command=("$@")
}

usage() {
  echo "usage: $session_name [--timeout SECONDS] -- COMMAND [ARGS...]" >&2
  exit 2
}

# --- inside the session bus --------------------------------------------------

accessibility_bus_address() {
  local reply
  reply=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.a11y.Bus.GetAddress 2>/dev/null) || return 1
  # gdbus prints ('unix:path=...,guid=...',)
  reply=${reply#*\'}
  reply=${reply%\'*}
  [[ -n $reply ]] || return 1
  printf '%s\n' "$reply"
}

registry_answers() {
  gdbus call --address "$1" --dest org.a11y.atspi.Registry \
    --object-path /org/a11y/atspi/accessible/root \
    --method org.freedesktop.DBus.Properties.Get \
    org.a11y.atspi.Accessible ChildCount
}

# Takes the caller's stderr back from fd 9 (the bus daemons keep the log),
# launches the accessibility bus (--a11y=1, never persisted) and returns once
# its registry answers. Sets launcher_pid.
start_accessibility_bus() {
  exec 2>&9 9>&-
  local launcher address
  for launcher in /usr/libexec/at-spi-bus-launcher \
    /usr/lib/at-spi2-core/at-spi-bus-launcher /usr/lib/at-spi-bus-launcher; do
    [[ -x $launcher ]] && break
  done
  [[ -x $launcher ]] || die_startup "at-spi-bus-launcher not found"
  "$launcher" --launch-immediately --a11y=1 \
    >"$E2E_SESSION_WORK/at-spi-bus-launcher.log" 2>&1 &
  launcher_pid=$!
  wait_until accessibility_bus_address ||
    die_startup "the accessibility bus did not come up"
  address=$(accessibility_bus_address)
  wait_until registry_answers "$address" ||
    die_startup "the accessibility registry did not answer on $address"
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

# The caller may define session_teardown for what it started itself.
teardown() {
  trap '' INT TERM HUP
  end_marked_processes
  if declare -F session_teardown >/dev/null; then session_teardown; fi
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
  export XDG_SESSION_TYPE=$1 GSETTINGS_BACKEND=memory
  export XDG_RUNTIME_DIR=$E2E_SESSION_WORK/runtime
  export XDG_CONFIG_HOME=$E2E_SESSION_WORK/config
  export XDG_CACHE_HOME=$E2E_SESSION_WORK/cache
  export XDG_DATA_HOME=$E2E_SESSION_WORK/data
  mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"

  sed "s|@RUNTIME_DIR@|$XDG_RUNTIME_DIR|" "${BASH_SOURCE[0]%/*}/session-bus.xml" \
    >"$E2E_SESSION_WORK/session-bus.xml"
}
