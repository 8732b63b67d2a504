#!/usr/bin/env bash
# End-to-end tests of the whole program against the simulated scale.
#
#   end_to_end_test.sh native WEIGH SCALE_SIM CASE
#   end_to_end_test.sh wine   WEIGH.EXE SCALE_SIM CASE WINE_RUN WINEPREFIX COM_NUMBER
#
# Each CASE runs the program once or twice in a new scratch folder and
# checks "Kavrin.inf", "log.txt", "raspuns/cant.txt" and the exit code. A
# conflict message is dismissed with xdotool on $DISPLAY (natively, without a
# display, the program writes it to standard error instead). Under Wine the
# program reads "COM<COM_NUMBER>" from "Kavrin.inf", and that COM port of the
# prefix is linked to the simulated scale's pseudo-terminal.
set -euo pipefail

mode=$1 weigh=$2 sim=$3 case_name=$4
if [ "$mode" = wine ]; then
  wine_run=$5 prefix=$6 com=$7
fi
[ -x "$sim" ] || { echo "no scale simulator at $sim (build the native preset first)"; exit 1; }

scratch=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ "$mode" = wine ] && rm -f "$prefix/dosdevices/com$com"
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
  [ -s "$scratch/stderr" ] && { echo "--- stderr:"; head -20 "$scratch/stderr"; }
  exit 1
}

# Starts the simulated scale with the given script and points the program
# at it.
start_scale() {
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

# Runs the program once; with "box", expects the conflict message and
# presses its OK button.
run_weigh() {
  local expect=${1:-}
  if [ "$mode" = wine ]; then
    timeout 120 "$wine_run" "$prefix" "$weigh" 2>"$scratch/stderr" &
  else
    timeout 60 "$weigh" 2>"$scratch/stderr" &
  fi
  local pid=$! shown=no
  if [ "$expect" = box ] && [ -n "${DISPLAY:-}" ]; then
    for _ in $(seq 300); do
      local window
      window=$(xdotool search --name '^Eroare$' 2>/dev/null | head -n1 || true)
      if [ -n "$window" ]; then
        sleep 0.3
        xdotool windowfocus --sync "$window" key Return 2>/dev/null || true
        shown=yes
        break
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "exit code $status"
  if [ "$expect" = box ]; then
    if [ -z "${DISPLAY:-}" ] && [ "$mode" = native ]; then
      grep -q '^Eroare$' "$scratch/stderr" || fail "no conflict message on standard error"
    else
      [ "$shown" = yes ] || fail "no message box titled Eroare appeared"
    fi
  fi
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
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "ok [$mode] $case_name"
