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

# shellcheck source=station/end_to_end_common.sh
. "$(dirname "$0")/end_to_end_common.sh"
sim_options=(--quiet)

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

# expect_message PID TEXT: natively without a display, the program PID wrote
# exactly the message titled Eroare with TEXT (printf format) to standard
# error. Under Wine and with a display, the box was seen and answered.
expect_message() {
  local pid=$1 text=$2
  if [ "$mode" = native ] && [ -z "${DISPLAY:-}" ]; then
    # shellcheck disable=SC2059
    printf "Eroare\n$text\n" >"$scratch/expected.message"
    cmp -s "${stderr_of[$pid]}" "$scratch/expected.message" ||
      fail "the message differs: $(LC_ALL=C sed -n 'l 0' "${stderr_of[$pid]}" | head -5)"
  elif [ "$shown" = no ]; then
    fail "no message titled Eroare"
  fi
}
attention='\n!ATENTIE! - NU SE CALCULEAZA - !ATENTIE!\nCantitate Noua NETRATATA : '
not_written="Fisierul raspuns\\\\cant.txt nu poate fi scris$attention"
# The message of a run whose line did not get into log.txt.
log_lost="Fisierul log.txt nu poate fi scris\\nCantitate noua : "
# The one message of a run that lost both its line and its value.
both_lost="Fisierul log.txt nu poate fi scris\\n$not_written"

# Makes $weigh run as the user nobody (root may write anything, so a file
# that root cannot use needs another user); the scratch folder and the
# scale's device become open to everybody.
run_as_nobody() {
  chmod 0755 "$scratch"
  chmod 0777 .
  [ -s "$scratch/sim.out" ] && chmod 0666 "$(head -n1 "$scratch/sim.out")"
  local real=$weigh
  weigh=$scratch/weigh-as-nobody
  printf '#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups %s "$@"\n' \
    "$real" >"$weigh"
  chmod 0755 "$weigh"
}

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

# Ends the Wine session of the prefix (its server and background programs,
# and what the server leaves running).
end_wine_session() {
  "$(dirname "$wine_run")/wine-end" "$prefix" || true
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
# refused with a message, and the log has one whole line per run. With
# "hold" the consumer keeps the file open without sharing it for up to
# 300 ms (1.5 s under Wine) before it takes the value, as a slow reader
# would; runs meanwhile cannot hand over and say so.
consumer_takes_values() {
  local hold=${1:-} runs=${WEIGH_RUNS:-20} i
  [ "$mode" = native ] && unset DISPLAY
  local script=()
  for i in $(seq "$runs"); do script+=("stable:$(weight "$i")"); done
  start_scale "${script[@]}"
  # The consumer's copies, in a folder of the station folder: hold-file
  # reaches files through held folders, as the program does.
  mkdir raspuns taken
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
        if [ -n "$hold" ]; then
          held=0
          if [ "$mode" = wine ]; then
            "$wine_run" "$prefix" "$(dirname "$weigh")/hold-file.exe" 'raspuns\cant.txt' \
              $((RANDOM % pause_ms)) "taken\\$n" || held=$?
          else
            "$(dirname "$sim")/hold-file" 'raspuns\cant.txt' $((RANDOM % pause_ms)) \
              "taken\\$n" || held=$?
          fi
          [ "$held" -eq 0 ] || { rm -f "taken/$n"; continue; }
        else
          cp raspuns/cant.txt "taken/$n"
        fi
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
  # A consumer that never took a value would leave every run but the first
  # refused, which proves nothing of the handoff.
  local took
  took=$(find taken -type f | wc -l)
  [ "$runs" -lt 2 ] || [ "$took" -gt 0 ] || fail "the consumer took no value"
  [ -e raspuns/cant.txt ] && mv raspuns/cant.txt taken/last

  declare -A taken
  local file value
  for file in taken/*; do
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

# Runs started at once in one folder: natively, where the port is exclusive,
# they take turns at it and each gets a weight; every run logs one whole
# line, and the first value handed over is never replaced.
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
    # The port is exclusive: the runs take turns at it and every one weighs.
    # The first hands over; all the others meet its value.
    [ "$weighed" -eq "$runs" ] || fail "$weighed of $runs runs got a weight"
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
    # The line is lost: the operator is told, and the value still handed over.
    mkdir log.txt
    start_scale stable:4.75
    run_weigh box
    expect_message "$launched" "${log_lost}\0024.75"
    expect_bytes raspuns/cant.txt '\0024.75\r\n'
    ;;
  handoff_folder_is_a_file)
    [ "$mode" = native ] && unset DISPLAY
    printf 'not a folder' >raspuns
    start_scale stable:5.00
    run_weigh box
    expect_bytes raspuns 'not a folder'
    expect_message "$launched" "${not_written}\0025.00"
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
    # A second run while the first holds the port (its scale says nothing):
    # it waits for the port, then weighs (8.88), and meets the first run's
    # empty value.
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
    [ "$first_ms" -lt "$bound_ms" ] && [ "$elapsed_ms" -lt $((2 * bound_ms)) ] ||
      fail "took $first_ms and $elapsed_ms ms"
    [ "$elapsed_ms" -gt 4000 ] || fail "the second run did not wait for the port ($elapsed_ms ms)"
    expect_log "${date_pattern}Cantitate noua : " "${date_pattern}Cantitate noua : ${STX}8\.88"
    expect_bytes raspuns/cant.txt '\r\n'
    shown=yes
    expect_message "$second" "Cantitate netratata : ${attention}\0028.88"
    report "elapsed_ms=$first_ms,$elapsed_ms handed_over=1 lost=0"
    ;;
  double_start_slow | double_start_quick)
    # A button pressed twice: both runs weigh, one after the other. The
    # first hands its value over; the second finds it waiting and says so
    # with both real values.
    [ "$mode" = wine ] && { echo "skip: Wine does not refuse a second open of a COM port"; exit 0; }
    unset DISPLAY
    if [ "$case_name" = double_start_slow ]; then
      # Steady after about 6 s; the second run starts 0.5 s after the first.
      start_scale unstable:12.40/delay=2000 unstable:12.45/delay=2000 unstable:12.48/delay=2000 \
        stable:12.50 stable:13.00
      launch
      first=$launched
      sleep 0.5
    else
      start_scale stable:12.50 stable:13.00
      launch
      first=$launched
    fi
    launch
    second=$launched
    finish "$first"
    first_ms=$elapsed_ms
    finish "$second"
    second_ms=$elapsed_ms
    expect_bytes raspuns/cant.txt '\00212.50\r\n'
    expect_log "${date_pattern}Cantitate noua : ${STX}12\.50" \
      "${date_pattern}Cantitate netratata : ${STX}12\.50 Cantitate noua : ${STX}13\.00"
    # Which of the two got the port first is up to the scheduler.
    if said_conflict "$first"; then
      shown=yes
      expect_message "$first" "Cantitate netratata : \00212.50${attention}\00213.00"
      [ ! -s "${stderr_of[$second]}" ] || fail "both runs showed a message"
    else
      shown=yes
      expect_message "$second" "Cantitate netratata : \00212.50${attention}\00213.00"
    fi
    expect_no_temporaries
    report "elapsed_ms=$first_ms,$second_ms handed_over=1 refused_with_message=1 lost=0"
    ;;
  config_not_held)
    # While a run waits for its scale, another program can write the
    # configuration file: the run read it and let it go.
    if [ "$mode" = native ]; then
      echo "skip: natively only this program's own opens keep each other out (double_start_slow)"
      exit 0
    fi
    start_scale stable:1.00/delay=3000
    launch
    pid=$launched
    sleep 1.5
    kill -0 "$pid" 2>/dev/null || fail "the run ended before the scale answered"
    "$wine_run" "$prefix" cmd /c "echo extra>>Kavrin.inf" ||
      fail "Kavrin.inf could not be written while the run waited"
    finish "$pid"
    grep -q extra Kavrin.inf || fail "the line was not added to Kavrin.inf"
    expect_bytes raspuns/cant.txt '\0021.00\r\n'
    ;;
  port_appears)
    # The adapter is plugged in while the run waits for it.
    start_scale stable:2.22
    device=$(head -n1 "$scratch/sim.out")
    if [ "$mode" = wine ]; then
      rm -f "$prefix/dosdevices/com$com"
    else
      printf '%s\r\n' "$scratch/adapter" >Kavrin.inf
    fi
    # The port goes in half a second after the run read its name (and so
    # tried the port): Wine takes a varying time to start a program.
    inotifywait -q -t 60 -e access Kavrin.inf >"$scratch/read" 2>&1 &
    watcher=$!
    sleep 0.2
    launch
    pid=$launched
    wait "$watcher" || fail "the run never read Kavrin.inf: $(cat "$scratch/read")"
    sleep 0.5
    if [ "$mode" = wine ]; then
      ln -sfn "$device" "$prefix/dosdevices/com$com"
    else
      ln -s "$device" "$scratch/adapter"
    fi
    finish "$pid"
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    expect_bytes raspuns/cant.txt '\0022.22\r\n'
    expect_log "${date_pattern}Cantitate noua : ${STX}2\.22"
    report "elapsed_ms=$elapsed_ms handed_over=1 lost=0"
    ;;
  handoff_is_a_directory)
    [ "$mode" = native ] && unset DISPLAY
    mkdir -p raspuns/cant.txt
    start_scale stable:4.20
    run_weigh box
    [ -d raspuns/cant.txt ] || fail "raspuns/cant.txt is no longer a directory"
    expect_message "$launched" "${not_written}\0024.20"
    expect_log "${date_pattern}Cantitate noua : ${STX}4\.20"
    expect_no_temporaries
    ;;
  handoff_not_permitted)
    # A waiting value nobody may read, then a folder nobody may write.
    [ "$mode" = wine ] && { echo "skip: Wine keeps access by mode bits, which root ignores"; exit 0; }
    unset DISPLAY
    start_scale stable:5.10 stable:5.20
    mkdir raspuns
    printf 'secret\r\n' >raspuns/cant.txt
    chmod 0000 raspuns/cant.txt
    [ "$(id -u)" -eq 0 ] && run_as_nobody
    run_weigh box
    expect_message "$launched" "${not_written}\0025.10"
    rm -f raspuns/cant.txt
    chmod 0555 raspuns
    run_weigh box
    expect_message "$launched" "${not_written}\0025.20"
    [ -z "$(ls raspuns)" ] || fail "raspuns is not empty: $(ls raspuns)"
    expect_log "${date_pattern}Cantitate noua : ${STX}5\.10" "${date_pattern}Cantitate noua : ${STX}5\.20"
    ;;
  planted_links)
    # Another user (uid 4242) planted links in a folder everyone may write;
    # the station's user (nobody) weighs there. Nothing goes through them,
    # and the value is not lost unseen. Its own links are followed.
    [ "$mode" = wine ] && { echo "skip: Windows keeps no owner rule for links"; exit 0; }
    [ "$(id -u)" -eq 0 ] || { echo "skip: acting as two users needs root"; exit 0; }
    unset DISPLAY
    mkdir -m 0777 "$scratch/open"
    printf 'root:*:20228:0:::\n' >"$scratch/shadow"
    printf 'echo profile\n' >"$scratch/profile"
    chmod 0666 "$scratch/profile"
    mkdir raspuns
    chmod 0777 raspuns
    ln -s "$scratch/open/planted" Kavrin.inf
    ln -s "$scratch/shadow" raspuns/cant.txt
    ln -s "$scratch/profile" log.txt
    chown -h 4242:4242 Kavrin.inf raspuns/cant.txt log.txt
    run_as_nobody
    run_weigh box
    [ ! -e "$scratch/open/planted" ] || fail "Kavrin.inf was created through a link"
    expect_bytes "$scratch/profile" 'echo profile\n'
    expect_message "$launched" "${both_lost}"
    grep -q root "${stderr_of[$launched]}" && fail "the planted link's target was shown"
    chown -h 65534:65534 log.txt
    run_weigh box
    expect_message "$launched" "${not_written}"
    [ "$(head -n1 "$scratch/profile")" = "echo profile" ] || fail "the profile lost its line"
    [[ $(tail -n1 "$scratch/profile") =~ ^${date_pattern}Cantitate\ noua\ :\ $'\r'$ ]] ||
      fail "the own link was not followed: $(tail -n1 "$scratch/profile" | LC_ALL=C sed -n 'l 0')"
    [ -L raspuns/cant.txt ] && [ -L Kavrin.inf ] || fail "a planted link was replaced"
    ;;
  others_config_link)
    # Kavrin.inf is another user's link to a file that names the port: the
    # run reads nothing through it (no port, an empty value); the same link
    # of root's is an administrator's set-up and is read.
    [ "$mode" = wine ] && { echo "skip: Windows keeps no owner rule for links"; exit 0; }
    [ "$(id -u)" -eq 0 ] || { echo "skip: giving a link away needs root"; exit 0; }
    start_scale stable:1.11 stable:1.12
    mv Kavrin.inf "$scratch/config"
    ln -s "$scratch/config" Kavrin.inf
    chown -h 4242:4242 Kavrin.inf
    run_weigh
    expect_bytes raspuns/cant.txt '\r\n'
    rm raspuns/cant.txt
    chown -h 0:0 Kavrin.inf
    run_weigh
    expect_bytes raspuns/cant.txt '\0021.11\r\n'
    ;;
  handoff_on_full_disk)
    # No file may grow (a file size limit stands in for a full disk): no
    # value is handed over, none is cut short, and the operator is told.
    [ "$mode" = wine ] && { echo "skip: needs a file size limit on the program alone"; exit 0; }
    unset DISPLAY
    start_scale stable:6.60
    # Standard error goes through a pipe, which no file size limit touches.
    {
      status=0
      (ulimit -f 0 && exec timeout 60 "$weigh") || status=$?
      echo "$status" >"$scratch/full.status"
    } 2>&1 | cat >"$scratch/full.err"
    [ "$(cat "$scratch/full.status")" -eq 0 ] || fail "exit code $(cat "$scratch/full.status")"
    [ ! -e raspuns/cant.txt ] || fail "a value was handed over: $(od -c raspuns/cant.txt | head -2)"
    expect_no_temporaries
    printf "Eroare\n${both_lost}\0026.60\n" >"$scratch/expected.message"
    cmp -s "$scratch/full.err" "$scratch/expected.message" ||
      fail "the message differs: $(LC_ALL=C sed -n 'l 0' "$scratch/full.err" | head -3)"
    ;;
  data_files_are_terminals)
    # Terminals nobody types into under the names of the log and the
    # handoff file: the run never waits on them.
    [ "$mode" = wine ] && { echo "skip: a Windows path cannot name a terminal"; exit 0; }
    unset DISPLAY
    start_scale stable:7.70
    "$sim" --quiet silence >"$scratch/tty1" 2>/dev/null &
    tty1=$!
    "$sim" --quiet silence >"$scratch/tty2" 2>/dev/null &
    tty2=$!
    extra_pids+=("$tty1" "$tty2")
    for _ in $(seq 100); do
      [ -s "$scratch/tty1" ] && [ -s "$scratch/tty2" ] && break
      sleep 0.05
    done
    mkdir raspuns
    ln -s "$(head -n1 "$scratch/tty1")" raspuns/cant.txt
    ln -s "$(head -n1 "$scratch/tty2")" log.txt
    launch
    pid=$launched
    finish "$pid"
    kill "$tty1" "$tty2" 2>/dev/null || true
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    shown=yes
    # A terminal takes no flush to a disk: the line counts as lost.
    expect_message "$pid" "${both_lost}\0027.70"
    ;;
  standard_streams_closed)
    # Started with standard error closed, then with standard error a pipe
    # nobody reads: the message must neither land in a file nor end the run.
    [ "$mode" = wine ] && { echo "skip: standard streams are a POSIX matter"; exit 0; }
    unset DISPLAY
    start_scale stable:8.10 stable:8.20 stable:8.30
    mkdir raspuns
    printf 'waiting\r\n' >raspuns/cant.txt
    cp Kavrin.inf "$scratch/config.before"
    status=0
    timeout 60 "$weigh" 2>&- || status=$?
    [ "$status" -eq 0 ] || fail "exit code $status with the standard streams closed"
    cmp -s Kavrin.inf "$scratch/config.before" || fail "Kavrin.inf changed: $(od -c Kavrin.inf | head -3)"
    mkfifo "$scratch/pipe"
    exec 8<>"$scratch/pipe" 9>"$scratch/pipe"
    exec 8<&-
    status=0
    timeout 60 "$weigh" 2>&9 || status=$?
    exec 9>&-
    [ "$status" -eq 0 ] || fail "exit code $status with standard error a broken pipe"
    rm raspuns/cant.txt
    run_weigh
    expect_bytes raspuns/cant.txt '\0028.30\r\n'
    expect_log "${date_pattern}Cantitate netratata : waiting Cantitate noua : ${STX}8\.10" \
      "${date_pattern}Cantitate netratata : waiting Cantitate noua : ${STX}8\.20" \
      "${date_pattern}Cantitate noua : ${STX}8\.30"
    ;;
  huge_first_lines)
    # A first line of 1 GiB in the configuration and in the waiting value:
    # only their starts are read.
    [ "$mode" = wine ] && { echo "skip: the native run shows it; Wine adds only minutes"; exit 0; }
    unset DISPLAY
    # In memory where there is room: writing 2 GiB to a disk takes long.
    big=$scratch
    if [ "$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')" -gt 3000000 ] 2>/dev/null; then
      big=$(mktemp -d /dev/shm/weigh-huge.XXXXXX)
      extra_dirs+=("$big")
    fi
    head -c 1073741824 /dev/zero | tr '\0' A >"$big/config"
    mkdir "$big/raspuns"
    tr A B <"$big/config" >"$big/raspuns/cant.txt"
    ln -s "$big/config" Kavrin.inf
    # The waiting value is never read through a link of its own; a folder
    # link of this user is followed.
    ln -s "$big/raspuns" raspuns
    measure=$(dirname "$sim")/measure
    "$measure" --runs 1 -- "$weigh" >"$scratch/measured" 2>"$scratch/huge.err" ||
      fail "measure failed: $(cat "$scratch/measured")"
    rss=$(sed -n 's/.*max_rss_kib=\([0-9]*\).*/\1/p' "$scratch/measured" | head -1)
    wall=$(sed -n 's/^run=1 wall_ms=\([0-9]*\).*/\1/p' "$scratch/measured")
    [ -n "$rss" ] && [ "$rss" -lt 102400 ] || fail "peak memory $rss KiB"
    [ -n "$wall" ] && [ "$wall" -lt "$bound_ms" ] || fail "took $wall ms"
    rm -f Kavrin.inf raspuns/cant.txt "$big/config"
    expect_log "${date_pattern}Cantitate netratata : B{4096} Cantitate noua : "
    report "elapsed_ms=$wall max_rss_kib=$rss"
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
  port_names_no_port)
    # Kavrin.inf names a file, a pipe, a folder, a share: a weighing opens
    # none of them, tries none again, and hands an empty value over at once.
    [ "$mode" = native ] && unset DISPLAY
    printf 'secret\n' >"$scratch/file"
    if [ "$mode" = native ]; then
      mkfifo "$scratch/pipe"
      # Blocks until somebody opens the pipe for writing.
      (exec cat "$scratch/pipe" >"$scratch/pipe.read") &
      reader=$!
      extra_pids+=("$reader")
      # The system's own terminals: the operator's typing, the consoles, a
      # new pty pair.
      names=("$scratch/file" "$scratch/pipe" "$scratch" /dev/null "/dev/pts/../..$scratch/file"
        /dev/tty /dev/console /dev/ptmx)
      [ -e /dev/tty1 ] && names+=(/dev/tty1)
      limit_ms=3000
    else
      windows_file="Z:$(tr / '\\' <<<"$scratch")\\file"
      ln -sfn "$scratch/file" "$prefix/dosdevices/com$com"
      # NUL and CON are character devices too, but no serial line.
      names=("$windows_file" "\\\\.\\$windows_file" 'UNC\localhost\share\file' 'pipe\scale'
        "COM$com" NUL CON)
      # Wine's own start: a first run, which opens no port.
      run_weigh
      limit_ms=$((elapsed_ms + 2500))
      rm -rf raspuns log.txt
    fi
    for name in "${names[@]}"; do
      printf '%s\r\n' "$name" >Kavrin.inf
      run_weigh
      echo "$name: $elapsed_ms ms (limit $limit_ms ms)"
      [ "$elapsed_ms" -lt "$limit_ms" ] || fail "$name: took $elapsed_ms ms, tried again"
      expect_bytes raspuns/cant.txt '\r\n'
      rm -rf raspuns
    done
    if [ "$mode" = wine ]; then
      # Time says little on a busy machine; Wine's own trace counts the
      # opens: NUL is opened once and given up, CON never.
      for name in NUL:1 CON:0; do
        printf '%s\r\n' "${name%:*}" >Kavrin.inf
        WINEPREFIX=$prefix WINEDEBUG=-all,trace+file WINEDLLOVERRIDES="mscoree,mshtml=" \
          timeout 120 wine "$weigh" 2>"$scratch/trace" || fail "${name%:*}: exit code $?"
        opens=$(grep -c "CreateFileW L\"[\\.]*${name%:*}\"" "$scratch/trace" || true)
        [ "$opens" -le "${name#*:}" ] || fail "${name%:*}: opened $opens times"
        expect_bytes raspuns/cant.txt '\r\n'
        rm -rf raspuns
      done
    fi
    expect_bytes "$scratch/file" 'secret\n'
    if [ "$mode" = native ]; then
      kill -0 "$reader" 2>/dev/null || fail "the pipe was opened"
    fi
    ;;
  port_is_a_session_terminal)
    # Somebody's session runs on the line (a login's shell on its terminal):
    # the run neither sets it nor sends the request there, and is done at once.
    [ "$mode" = wine ] && { echo "skip: sessions and their terminals are a Linux matter"; exit 0; }
    # Traced, to tell whether any byte reached the line.
    sim_options=()
    start_scale silence
    stty -F "$device" 1200 icanon echo
    before=$(stty -F "$device" -g)
    setsid --ctty sleep 60 <"$device" &
    extra_pids+=($!)
    session=$!
    for _ in $(seq 100); do
      [ "$(awk '{print $7}' "/proc/$session/stat" 2>/dev/null)" != 0 ] && break
      sleep 0.05
    done
    [ "$(awk '{print $7}' "/proc/$session/stat")" != 0 ] || fail "the session took no terminal"
    run_weigh
    [ "$elapsed_ms" -lt 3000 ] || fail "took $elapsed_ms ms: the terminal was tried"
    expect_bytes raspuns/cant.txt '\r\n'
    ! grep -q 'rx\|request' "$scratch/sim.err" || fail "bytes reached the line: $(cat "$scratch/sim.err")"
    [ "$(stty -F "$device" -g)" = "$before" ] || fail "the terminal's settings changed"
    ;;
  line_given_back_after_signal)
    # A run ended by kill or Ctrl-C while it waits for a silent scale: the
    # line gets back the settings it had, and the run ends as the signal
    # ends a program.
    [ "$mode" = wine ] && { echo "skip: signals are a Linux matter"; exit 0; }
    unset DISPLAY
    start_scale silence
    device=$(head -n1 "$scratch/sim.out")
    for signal in TERM INT; do
      stty -F "$device" 2400 icanon echo icrnl
      before=$(stty -F "$device" -g)
      # A background job of a script starts with INT ignored; a run started
      # by hand does not.
      env --default-signal=INT "$weigh" 2>/dev/null &
      pid=$!
      for _ in $(seq 100); do
        [ "$(stty -F "$device" speed)" = 9600 ] && break
        sleep 0.05
      done
      [ "$(stty -F "$device" speed)" = 9600 ] || fail "$signal: the run never set the line"
      kill -s "$signal" "$pid"
      status=0
      wait "$pid" || status=$?
      [ "$status" -eq $((128 + $(kill -l "$signal"))) ] || fail "$signal: exit status $status"
      [ "$(stty -F "$device" -g)" = "$before" ] ||
        fail "$signal: the line was left as $(stty -F "$device"), not as found"
    done
    ;;
  line_given_back)
    # A line left slow, with two stop bits and software flow control by the
    # program before (a pty takes no other sizes or parity): the run weighs
    # right and leaves it so for the next one.
    start_scale stable:3.21
    device=$(head -n1 "$scratch/sim.out")
    stty -F "$device" 4800 cstopb ixon ixoff
    settings() {
      stty -F "$device" -a | tr -s ' ;' '\n' |
        grep -E '^(speed|[0-9]+|-?(cs[5-8]|parenb|parodd|cstopb|crtscts|ixon|ixoff))$' | tr '\n' ' '
    }
    before=$(settings)
    run_weigh
    expect_bytes raspuns/cant.txt '\0023.21\r\n'
    after=$(settings)
    [ "$after" = "$before" ] || fail "the line was left as: $after; found as: $before"
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
    # The configuration is only read, so a read-only one serves as well.
    start_scale stable:9.10
    chmod 0444 Kavrin.inf
    # Root may write any file: natively the run is made as nobody. (Wine
    # running as root cannot be shown a read-only file at all.)
    [ "$mode" = native ] && [ "$(id -u)" -eq 0 ] && run_as_nobody
    run_weigh
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    [ -n "$(find Kavrin.inf -perm 0444)" ] || fail "Kavrin.inf changed its mode"
    expect_bytes raspuns/cant.txt '\0029.10\r\n'
    expect_log "${date_pattern}Cantitate noua : ${STX}9\.10"
    report "elapsed_ms=$elapsed_ms handed_over=1 lost=0"
    ;;
  log_on_full_disk)
    ln -s /dev/full log.txt
    start_scale stable:3.33
    run_weigh box
    expect_message "$launched" "${log_lost}\0023.33"
    [ -L log.txt ] || fail "log.txt is no longer the link to /dev/full"
    expect_bytes raspuns/cant.txt '\0023.33\r\n'
    report "handed_over=1 lost=0"
    ;;
  silent_scale)
    # A scale that never answers: the run gives up at the silence limit of
    # 5 s, not before (a slow scale may take that long).
    start_scale silence
    run_weigh
    [ "$elapsed_ms" -lt "$bound_ms" ] || fail "took $elapsed_ms ms"
    [ "$elapsed_ms" -ge 5000 ] || fail "gave up after $elapsed_ms ms, before the silence limit"
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
  consumer_holds_values)
    consumer_takes_values hold
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
