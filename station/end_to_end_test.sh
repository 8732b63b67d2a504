#!/usr/bin/env bash
# End-to-end, fault and stress tests of the whole program against the
# simulated scale.
#
#   end_to_end_test.sh native WEIGH SCALE_SIM CASE
#   end_to_end_test.sh wine   WEIGH.EXE SCALE_SIM CASE WINE_RUN WINEPREFIX COM_NUMBER
#
# Each CASE runs the program in a new scratch folder and checks
# "Kavrin.inf", "log.txt", "raspuns/cant.txt", the exit code and, where it
# matters, the time taken. A conflict message is dismissed with xdotool on
# $DISPLAY (natively, without a display, the program writes it to standard
# error instead). Under Wine the program reads "COM<COM_NUMBER>" from
# "Kavrin.inf", and that COM port of the prefix is linked to the simulated
# scale's pseudo-terminal. A SCALE_SIM ending in .exe runs under Wine too,
# on COM<COM_NUMBER + 200>, the other end of a socat pair: a null-modem pair
# as on a Windows station.
#
# WEIGH_LOCK_HOLDER names the Windows platform test program, which holds a
# lock on the log for the cases that need one.
#
# WEIGH_RUNS sets how many runs the stress cases make (consumer_takes_values,
# concurrent_runs); WEIGH_REPORT names a file that gets one line of figures
# per case.
set -euo pipefail

mode=$1 weigh=$2 sim=$3 case_name=$4
if [ "$mode" = wine ]; then
  wine_run=$5 prefix=$6 com=$7
fi
[ -x "$sim" ] || { echo "no scale simulator at $sim (build the native preset first)"; exit 1; }
sim_on_windows=no
case $sim in *.exe) sim_on_windows=yes ;; esac

scratch=$(mktemp -d)
sim_pid="" relay_pid="" holder_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null || true
  [ "$mode" = wine ] && rm -f "$prefix/dosdevices/com$com" "$prefix/dosdevices/com$((com + 200))"
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/run"
cd "$scratch/run"

fail() {
  echo "FAIL [$case_name]: $*"
  for file in Kavrin.inf log.txt raspuns/cant.txt; do
    [ -f "$file" ] && { echo "--- $file:"; od -c "$file" | head -20; }
  done
  if [ -n "${launched:-}" ] && [ -s "${stderr_of[$launched]:-}" ]; then
    echo "--- standard error of the last run:"
    head -20 "${stderr_of[$launched]}"
  fi
  exit 1
}

# Runs a Windows program under Wine in the background, its output going
# straight to the files given (wine-run would keep it until the end).
# WEIGH_WINE may name another Wine loader, as for wine-run.
wine_in_background() {
  local out=$1 err=$2
  shift 2
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "${WEIGH_WINE:-wine}" "$@" \
    >"$out" 2>"$err" &
}

# Starts scale-sim.exe under Wine on one end of a new socat pair and points
# the program at the other end.
start_windows_scale() {
  "$wine_run" "$prefix" --boot
  socat pty,raw,echo=0,link="$scratch/line-a" pty,raw,echo=0,link="$scratch/line-b" &
  relay_pid=$!
  for _ in $(seq 100); do
    [ -e "$scratch/line-a" ] && [ -e "$scratch/line-b" ] && break
    sleep 0.05
  done
  ln -sfn "$(readlink -f "$scratch/line-a")" "$prefix/dosdevices/com$com"
  ln -sfn "$(readlink -f "$scratch/line-b")" "$prefix/dosdevices/com$((com + 200))"
  wine_in_background "$scratch/sim.out" "$scratch/sim.err" \
    "$sim" --quiet --device "COM$((com + 200))" "$@"
  sim_pid=$!
  for _ in $(seq 600); do
    [ -s "$scratch/sim.out" ] && break
    sleep 0.05
  done
  [ "$(head -n1 "$scratch/sim.out" | tr -d '\r')" = "COM$((com + 200))" ] ||
    fail "scale-sim.exe did not start: $(cat "$scratch/sim.err")"
  printf 'COM%s\r\n' "$com" >Kavrin.inf
}

# Starts the simulated scale with the given script and points the program
# at it.
start_scale() {
  if [ "$sim_on_windows" = yes ]; then
    start_windows_scale "$@"
    return
  fi
  "$sim" --quiet "$@" >"$scratch/sim.out" 2>"$scratch/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$scratch/sim.out" ] && break
    sleep 0.05
  done
  local device
  device=$(head -n1 "$scratch/sim.out")
  [ -n "$device" ] || fail "the simulated scale did not start: $(cat "$scratch/sim.err")"
  if [ "$mode" = wine ]; then
    "$wine_run" "$prefix" --boot
    ln -sfn "$device" "$prefix/dosdevices/com$com"
    printf 'COM%s\r\n' "$com" >Kavrin.inf
  else
    printf '%s\r\n' "$device" >Kavrin.inf
  fi
}

# Starts the program in the background; its pid is in $launched. Its
# standard error and bash's timing of it are kept apart per run.
launch() {
  local stderr=$scratch/stderr.$RANDOM$RANDOM
  (
    TIMEFORMAT='%R %U %S'
    if [ "$mode" = wine ]; then
      time timeout 120 "$wine_run" "$prefix" "$weigh" 2>"$stderr"
    else
      time timeout 60 "$weigh" 2>"$stderr"
    fi
  ) 2>"$stderr.time" &
  launched=$!
  stderr_of[$launched]=$stderr
}
declare -A stderr_of

# Waits for a launched program and checks its exit code. Sets $elapsed_ms
# and $cpu_ms (user and system time of the program and its children).
finish() {
  local pid=$1 status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "exit code $status"
  local real user system
  read -r real user system <"${stderr_of[$pid]}.time"
  elapsed_ms=$(awk -v r="$real" 'BEGIN { printf "%d", r * 1000 }')
  cpu_ms=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%d", (u + s) * 1000 }')
}

# True when the program $1 showed the conflict message on standard error
# (natively without a display).
said_conflict() { grep -q '^Eroare$' "${stderr_of[$1]}" 2>/dev/null; }

# Presses OK on every message box titled Eroare until the given programs
# have ended; sets $boxes to how many it answered.
answer_boxes() {
  boxes=0
  [ -n "${DISPLAY:-}" ] || return 0
  local answered=" "
  while :; do
    local alive=no pid
    for pid in "$@"; do kill -0 "$pid" 2>/dev/null && alive=yes; done
    local window
    # A key press can miss while several boxes fight for the focus: every
    # box still there is answered again on the next round.
    for window in $(xdotool search --name '^Eroare$' 2>/dev/null || true); do
      case $answered in *" $window "*) ;; *) boxes=$((boxes + 1)); answered+="$window " ;; esac
      sleep 0.2
      xdotool windowactivate --sync "$window" key Return 2>/dev/null ||
        xdotool windowfocus --sync "$window" key Return 2>/dev/null || true
    done
    [ "$alive" = yes ] || break
    sleep 0.1
  done
}

# Runs the program once. With "box" it expects the conflict message; with
# "maybe" it answers one if it comes. Sets $shown to yes or no.
run_weigh() {
  local expect=${1:-}
  launch
  local pid=$launched
  boxes=0
  [ -n "$expect" ] && answer_boxes "$pid"
  finish "$pid"
  shown=no
  if [ "$boxes" -gt 0 ] || said_conflict "$pid"; then shown=yes; fi
  if [ "$expect" = box ] && [ "$shown" = no ]; then
    fail "no conflict message (no box titled Eroare, nothing on standard error)"
  fi
}

# Appends a line of figures to $WEIGH_REPORT, if set.
report() {
  [ -n "${WEIGH_REPORT:-}" ] && echo "$mode $case_name $*" >>"$WEIGH_REPORT"
  echo "figures: $*"
}

# expect_bytes FILE PRINTF-FORMAT [ARGS]: the file holds exactly these bytes.
expect_bytes() {
  local file=$1
  shift
  # shellcheck disable=SC2059
  printf "$@" >"$scratch/expected"
  cmp -s "$file" "$scratch/expected" || fail "$file differs from the expected bytes"
}

date_pattern='[0-9]{4}/[0-9]{2}/[0-9]{2} - [0-9]{2}:[0-9]{2}:[0-9]{2} -  / '

# expect_log LINE-REGEX...: log.txt holds exactly these lines, each ended by
# CR LF, each checked against its pattern (the date is matched for you).
expect_log() {
  local count=$#
  [ -f log.txt ] || fail "no log.txt"
  [ "$(tail -c 2 log.txt | od -An -c | tr -d ' ')" = '\r\n' ] || fail "log.txt does not end with CR LF"
  [ "$(grep -c $'\r$' log.txt)" -eq "$count" ] || fail "log.txt does not hold $count lines"
  local n=0 pattern
  for pattern in "$@"; do
    n=$((n + 1))
    sed -n "${n}p" log.txt | tr -d '\r' | LC_ALL=C grep -Eq "^${pattern}\$" ||
      fail "log line $n does not match: $pattern"
  done
}

STX=$'\x02'

# A weighing gives up 5 s after the last byte; allow for a slow start.
if [ "$mode" = wine ]; then
  bound_ms=20000 idle_cpu_ms=3000
else
  bound_ms=10000 idle_cpu_ms=1000
fi

# Ends the Wine session of the prefix (its server and background programs).
end_wine_session() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
}

# The weight of run $1: 0.01, 0.02, ... 1.00, 1.01 ...
weight() { printf '%d.%02d' $(($1 / 100)) $(($1 % 100)); }

# No temporary file may be left behind in raspuns.
expect_no_temporaries() {
  local left
  left=$(find raspuns -name '*.tmp' | head -n3)
  [ -z "$left" ] || fail "temporary files left: $left"
}

# Sequential runs while a consumer takes values at random moments: every
# value handed over is taken exactly once and whole, every other value was
# refused with the conflict message, and the log has one whole line per run.
consumer_takes_values() {
  local runs=${WEIGH_RUNS:-20} i
  [ "$mode" = native ] && unset DISPLAY
  local script=()
  for i in $(seq "$runs"); do script+=("stable:$(weight "$i")"); done
  start_scale "${script[@]}"
  mkdir raspuns "$scratch/taken"
  # Pauses of up to about two runs' time, so that some runs find the last
  # value still there.
  local pause_ms=300
  [ "$mode" = wine ] && pause_ms=1500
  (
    n=0
    while [ ! -e "$scratch/stop" ]; do
      sleep "$(printf '%d.%03d' $((RANDOM % pause_ms / 1000)) $((RANDOM % pause_ms % 1000)))"
      if [ -e raspuns/cant.txt ]; then
        n=$((n + 1))
        cp raspuns/cant.txt "$scratch/taken/$n"
        rm raspuns/cant.txt
      fi
    done
  ) &
  local consumer=$!
  local refused=()
  for i in $(seq "$runs"); do
    run_weigh maybe
    refused[$i]=$shown
  done
  touch "$scratch/stop"
  wait "$consumer"
  [ -e raspuns/cant.txt ] && mv raspuns/cant.txt "$scratch/taken/last"

  declare -A taken
  local file value
  for file in "$scratch"/taken/*; do
    [ -e "$file" ] || continue
    value=$(LC_ALL=C sed -n 'l 0' "$file")
    [[ $value =~ ^\\002([0-9]+\.[0-9]{2})\\r\$$ ]] || fail "a value taken was not whole: $value"
    value=${BASH_REMATCH[1]}
    [ -z "${taken[$value]:-}" ] || fail "$value was taken twice"
    taken[$value]=1
  done
  local handed=0 lost=0 patterns=()
  for i in $(seq "$runs"); do
    value=$(weight "$i")
    if [ "${refused[$i]}" = yes ]; then
      [ -z "${taken[$value]:-}" ] || fail "run $i was refused, yet $value was taken"
    else
      handed=$((handed + 1))
      [ -n "${taken[$value]:-}" ] || lost=$((lost + 1))
    fi
    patterns+=("${date_pattern}(Cantitate netratata : ${STX}[0-9.]+ )?Cantitate noua : ${STX}${value//./\\.}")
  done
  [ "$lost" -eq 0 ] || fail "$lost values handed over were never taken"
  expect_log "${patterns[@]}"
  expect_no_temporaries
  report "runs=$runs handed_over=$handed refused=$((runs - handed)) taken=${#taken[@]} lost=$lost"
}

# Runs started at once in one folder: the runs that get the port get a
# weight each (only one natively, where the port is exclusive), the others
# give up within the bound; every run logs one whole line, and the first
# value handed over is never replaced.
concurrent_runs() {
  local runs=${WEIGH_RUNS:-8} i
  # No display: natively the conflict message then goes to standard error,
  # where it is counted. Under Wine no box can be shown then (MessageBoxA
  # gives up), which is as well: boxes of several Wine processes on one
  # display without a window manager do not reliably take key presses.
  # Wine's session keeps the display of the program that started it, so
  # these runs get a session of their own, ended before the next case.
  unset DISPLAY
  if [ "$mode" = wine ]; then
    end_wine_session
    trap 'end_wine_session; cleanup' EXIT
  fi
  local script=()
  # The scale takes a second to answer, so that every run has started while
  # the first one holds the port.
  for i in $(seq "$runs"); do script+=("stable:$(weight $((700 + i)))/delay=1000"); done
  start_scale "${script[@]}"
  mkdir raspuns
  # Notes every content that raspuns/cant.txt shows, in order.
  (
    last=""
    while [ ! -e "$scratch/stop" ]; do
      now=$(LC_ALL=C sed -n 'l 0' raspuns/cant.txt 2>/dev/null || true)
      [ "$now" != "$last" ] && echo "$now" >>"$scratch/seen"
      last=$now
      sleep 0.005
    done
  ) &
  local watcher=$!
  local pids=()
  for i in $(seq "$runs"); do
    launch
    pids+=("$launched")
  done
  answer_boxes "${pids[@]}"
  local slowest=0 refused=0 patterns=() pid
  for pid in "${pids[@]}"; do
    finish "$pid"
    [ "$elapsed_ms" -gt "$slowest" ] && slowest=$elapsed_ms
    said_conflict "$pid" && refused=$((refused + 1))
    patterns+=("${date_pattern}(Cantitate netratata : ${STX}7\\.[0-9]{2} )?Cantitate noua : (${STX}7\\.[0-9]{2})?")
  done
  touch "$scratch/stop"
  wait "$watcher"
  [ "$slowest" -lt $((bound_ms + 2000 * runs)) ] || fail "the slowest run took $slowest ms"
  expect_log "${patterns[@]}"
  local weighed
  weighed=$(grep -c "Cantitate noua : ${STX}7\.[0-9][0-9]" log.txt || true)
  # The handoff file appeared once, whole, and never changed after.
  local shown_values
  shown_values=$(grep -v '^$' "$scratch/seen" || true)
  [ "$(echo "$shown_values" | wc -l)" -eq 1 ] || fail "raspuns/cant.txt changed: $shown_values"
  [[ $shown_values =~ ^\\0027\.[0-9]{2}\\r\$$ ]] || fail "not a whole value: $shown_values"
  [ "$(LC_ALL=C sed -n 'l 0' raspuns/cant.txt)" = "$shown_values" ] || fail "raspuns/cant.txt was replaced"
  if [ "$mode" = native ]; then
    # The port is exclusive, and the one run that weighed is the one that
    # handed over: all the others met its value.
    [ "$weighed" -eq 1 ] || fail "$weighed runs got a weight"
    [ "$refused" -eq $((runs - 1)) ] || fail "$refused of $runs runs were refused"
  fi
  expect_no_temporaries
  report "runs=$runs weighed=$weighed refused=$refused slowest_ms=$slowest handed_over=1 lost=0"
}

case $case_name in
  first_run)
    run_weigh
    expect_bytes Kavrin.inf 'COM1\r\n'
    expect_bytes raspuns/cant.txt '\r\n'
    expect_log "${date_pattern}Cantitate noua : "
    ;;
  worked_example)
    start_scale stable:12.50
    run_weigh
    expect_bytes raspuns/cant.txt '\00212.50\r\n'
    expect_log "${date_pattern}Cantitate noua : ${STX}12\.50"
    ;;
  unstable_then_stable)
    start_scale unstable:12.40 unstable:12.48/chunk=4/gap=5 stable:12.50
    run_weigh
    expect_bytes raspuns/cant.txt '\00212.50\r\n'
    ;;
  pending_value)
    mkdir raspuns
    printf '\00212.40\r\n' >raspuns/cant.txt
    cp raspuns/cant.txt "$scratch/before"
    start_scale stable:12.85
    run_weigh box
    cmp -s raspuns/cant.txt "$scratch/before" || fail "the pending value was changed"
    expect_log "${date_pattern}Cantitate netratata : ${STX}12\.40 Cantitate noua : ${STX}12\.85"
    ;;
  empty_pending_file)
    mkdir raspuns
    : >raspuns/cant.txt
    start_scale stable:3.00
    run_weigh box
    [ ! -s raspuns/cant.txt ] || fail "the empty pending file was changed"
    expect_log "${date_pattern}Cantitate noua : ${STX}3\.00"
    ;;
  pending_several_lines)
    mkdir raspuns
    printf 'first\nsecond\r\nthird' >raspuns/cant.txt
    cp raspuns/cant.txt "$scratch/before"
    start_scale stable:1.25
    run_weigh box
    cmp -s raspuns/cant.txt "$scratch/before" || fail "the pending value was changed"
    expect_log "${date_pattern}Cantitate netratata : first Cantitate noua : ${STX}1\.25"
    ;;
  log_without_line_end)
    printf 'old entry' >log.txt
    start_scale stable:2.50
    run_weigh
    [ "$(head -c 9 log.txt)" = "old entry" ] || fail "the old log bytes changed"
    expect_log "old entry${date_pattern}Cantitate noua : ${STX}2\.50"
    ;;
  log_cannot_be_opened)
    mkdir log.txt
    start_scale stable:4.75
    run_weigh
    expect_bytes raspuns/cant.txt '\0024.75\r\n'
    ;;
  handoff_folder_is_a_file)
    printf 'not a folder' >raspuns
    start_scale stable:5.00
    run_weigh
    expect_bytes raspuns 'not a folder'
    expect_log "${date_pattern}Cantitate noua : ${STX}5\.00"
    ;;
  second_run_conflicts)
    start_scale stable:6.10 stable:6.20
    run_weigh
    expect_bytes raspuns/cant.txt '\0026.10\r\n'
    run_weigh box
    expect_bytes raspuns/cant.txt '\0026.10\r\n'
    expect_log "${date_pattern}Cantitate noua : ${STX}6\.10" \
      "${date_pattern}Cantitate netratata : ${STX}6\.10 Cantitate noua : ${STX}6\.20"
    [ "$(ls raspuns)" = cant.txt ] || fail "raspuns holds more than cant.txt: $(ls raspuns)"
    ;;
  scale_hangs_up)
    # Half a reply, then the scale goes away: no busy loop, the wait ends at
    # the silence limit.
    start_scale --exit raw:010253202031322e
    run_weigh
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    [ "$cpu_ms" -lt "$idle_cpu_ms" ] || fail "used $cpu_ms ms of CPU while waiting"
    expect_bytes raspuns/cant.txt '\r\n'
    expect_log "${date_pattern}Cantitate noua : "
    report "elapsed_ms=$elapsed_ms cpu_ms=$cpu_ms handed_over=1 lost=0"
    ;;
  port_busy)
    # A second run while the first holds the port: it cannot open the port,
    # so the scale never hears its request (which would be answered 8.88).
    [ "$mode" = wine ] && { echo "skip: Wine does not refuse a second open of a COM port"; exit 0; }
    unset DISPLAY
    start_scale silence stable:8.88
    launch
    first=$launched
    sleep 0.5
    launch
    second=$launched
    finish "$first"
    first_ms=$elapsed_ms
    finish "$second"
    [ "$first_ms" -lt "$bound_ms" ] && [ "$elapsed_ms" -lt "$bound_ms" ] ||
      fail "took $first_ms and $elapsed_ms ms"
    expect_log "${date_pattern}Cantitate noua : " "${date_pattern}Cantitate noua : "
    expect_bytes raspuns/cant.txt '\r\n'
    report "elapsed_ms=$first_ms,$elapsed_ms handed_over=1 lost=0"
    ;;
  port_missing)
    printf 'NOSUCHPORT\r\n' >Kavrin.inf
    run_weigh
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    expect_bytes Kavrin.inf 'NOSUCHPORT\r\n'
    expect_bytes raspuns/cant.txt '\r\n'
    expect_log "${date_pattern}Cantitate noua : "
    report "elapsed_ms=$elapsed_ms handed_over=1 lost=0"
    ;;
  config_is_directory)
    mkdir Kavrin.inf
    run_weigh
    [ "$elapsed_ms" -lt 3000 ] || fail "took $elapsed_ms ms"
    [ -d Kavrin.inf ] || fail "Kavrin.inf is no longer a directory"
    expect_bytes raspuns/cant.txt '\r\n'
    expect_log "${date_pattern}Cantitate noua : "
    report "elapsed_ms=$elapsed_ms handed_over=1 lost=0"
    ;;
  config_read_only)
    # The name cannot be read for update, so no port is opened, although the
    # scale (open to everybody here) would answer.
    if [ "$mode" = wine ] && [ "$(id -u)" -eq 0 ]; then
      # Wine keeps a read-only file by its mode bits, which root ignores, and
      # the prefix cannot be used by another user.
      echo "skip: Wine running as root opens a read-only file for writing"
      exit 0
    fi
    start_scale stable:9.10
    chmod 0444 Kavrin.inf
    if [ "$(id -u)" -eq 0 ]; then
      # Root may write any file: the run is made as nobody.
      chmod 0755 "$scratch"
      chmod 0777 .
      chmod 0666 "$(head -n1 "$scratch/sim.out")"
      weigh_as_root=$weigh
      weigh=$scratch/weigh
      printf '#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups %s\n' \
        "$weigh_as_root" >"$weigh"
      chmod 0755 "$weigh"
    fi
    run_weigh
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    [ -n "$(find Kavrin.inf -perm 0444)" ] || fail "Kavrin.inf changed its mode"
    expect_bytes raspuns/cant.txt '\r\n'
    expect_log "${date_pattern}Cantitate noua : "
    report "elapsed_ms=$elapsed_ms handed_over=1 lost=0"
    ;;
  log_on_full_disk)
    ln -s /dev/full log.txt
    start_scale stable:3.33
    run_weigh
    [ -L log.txt ] || fail "log.txt is no longer the link to /dev/full"
    expect_bytes raspuns/cant.txt '\0023.33\r\n'
    report "handed_over=1 lost=0"
    ;;
  silent_scale)
    # A scale that never answers: the run gives up at the silence limit.
    start_scale silence
    run_weigh
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    expect_bytes raspuns/cant.txt '\r\n'
    expect_log "${date_pattern}Cantitate noua : "
    report "elapsed_ms=$elapsed_ms handed_over=1 lost=0"
    ;;
  log_turn_held | log_locked_whole)
    # Another program holds a lock on the log far longer than a weighing
    # may wait: on the appenders' turn-taking byte only, or on the whole
    # file as backup and log-viewing tools do. The run must still end soon
    # and hand its value over.
    [ "$mode" = wine ] || { echo "skip: appends take turns through a lock on Windows only"; exit 0; }
    range=turn
    [ "$case_name" = log_locked_whole ] && range=whole
    : >log.txt
    start_scale stable:7.75
    WEIGH_TEST_CHILD="lock_hold $range log.txt" wine_in_background /dev/null "$scratch/holder.err" \
      "${WEIGH_LOCK_HOLDER:?the Windows platform test program}"
    holder_pid=$!
    for _ in $(seq 600); do
      [ -e held ] && break
      sleep 0.05
    done
    [ -e held ] || fail "the lock holder did not lock log.txt: $(cat "$scratch/holder.err")"
    run_weigh
    touch release
    wait "$holder_pid" || fail "the lock holder failed"
    holder_pid=""
    # The holder lets go after 30 s at the latest; a run that waited for it
    # takes that long.
    [ "$elapsed_ms" -lt 15000 ] || fail "took $elapsed_ms ms"
    expect_bytes raspuns/cant.txt '\0027.75\r\n'
    [ "$range" = turn ] && expect_log "${date_pattern}Cantitate noua : ${STX}7\.75"
    report "elapsed_ms=$elapsed_ms handed_over=1 lost=0"
    ;;
  consumer_takes_values)
    consumer_takes_values
    ;;
  concurrent_runs)
    concurrent_runs
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "ok [$mode] $case_name"
