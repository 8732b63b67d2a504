#!/usr/bin/env bash
# End-to-end tests of the options (--check, --list-ports, --help, --version)
# and of the rule for arguments, against the simulated scale.
#
#   options_end_to_end_test.sh native WEIGH SCALE_SIM CASE
#   options_end_to_end_test.sh wine   WEIGH.EXE SCALE_SIM CASE WINE_RUN WINEPREFIX COM_NUMBER
#
# Each CASE runs in a new scratch folder. The scale simulator traces every
# request, so that a case can tell how many the program sent. Under Wine the
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
holder_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null || true
  [ "$mode" = wine ] && rm -f "$prefix/dosdevices/com$com"
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/run"
cd "$scratch/run"

fail() {
  echo "FAIL [$case_name]: $*"
  [ -f "$scratch/out" ] && { echo "--- output:"; head -60 "$scratch/out"; }
  [ -s "$scratch/err" ] && { echo "--- standard error:"; head -20 "$scratch/err"; }
  [ -f "$scratch/sim.err" ] && { echo "--- scale:"; head -20 "$scratch/sim.err"; }
  exit 1
}

# Starts the simulated scale (tracing) with the given script and points the
# program at it.
start_scale() {
  "$sim" "$@" >"$scratch/sim.out" 2>"$scratch/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$scratch/sim.out" ] && break
    sleep 0.05
  done
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

# How many requests the scale has received.
requests() { grep -c 'request: step' "$scratch/sim.err" || true; }

# Runs the program with the given arguments in the current folder; its
# standard output goes to $scratch/out (CR LF made LF), its exit status to
# $status.
run() {
  status=0
  if [ "$mode" = wine ]; then
    timeout 120 "$wine_run" "$prefix" "$weigh" "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
  else
    timeout 90 "$weigh" "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
  fi
  sed -i 's/\r$//' "$scratch/out"
}

# Ends the Wine session of the prefix (its server and background programs,
# and what the server leaves running).
end_wine_session() {
  "$(dirname "$wine_run")/wine-end" "$prefix" || true
}

# Every file of the folder with a checksum of its bytes.
snapshot() { find . -printf '%p %y %m ' -exec sh -c '[ -f "$1" ] && md5sum <"$1" || echo' _ {} \; | sort; }

# Runs the program with the given arguments and expects exit status $1, the
# folder unchanged and nothing sent to the scale but what $2 says (requests).
run_expecting() {
  local want=$1 sent=$2
  shift 2
  local before
  before=$(snapshot)
  run "$@"
  [ "$status" -eq "$want" ] || fail "exit status $status, expected $want"
  [ "$(snapshot)" = "$before" ] || fail "the folder changed"
  if [ -n "$sim_pid" ]; then
    sleep 0.2
    [ "$(requests)" -eq "$sent" ] || fail "the scale received $(requests) requests, expected $sent"
  fi
}

# The SHA-256 of a file, as sha256sum prints it.
digest_of() { sha256sum "$1" | cut -d' ' -f1; }

# The line names the program file that ran: natively its real path; under
# Wine the same file on the drive Z: that Wine makes of /.
program_file_is() {
  local expected
  if [ "$mode" = wine ]; then
    expected="Program file: Z:$(realpath "$weigh" | tr / '\\')"
  else
    expected="Program file: $(realpath "$weigh")"
  fi
  [ "$1" = "$expected" ] || fail "\"$1\" is not \"$expected\""
}

# The output holds this fixed text.
says() { grep -qF -- "$1" "$scratch/out" || fail "the output does not say: $1"; }

# The output's last line is the verdict with this exit status.
verdict_is() {
  tail -n1 "$scratch/out" | grep -q "^Verdict: .*(exit status $1)\.$" ||
    fail "the last line is no verdict with status $1: $(tail -n1 "$scratch/out")"
}

# Runs the program in a copy of this folder, with the arguments given; the
# files it leaves are kept for compare_runs.
weigh_in() {
  local folder=$1
  shift
  mkdir -p "$scratch/$folder"
  cp -a . "$scratch/$folder/"
  (cd "$scratch/$folder" && run "$@" && echo "$status" >status)
}

case $case_name in
  help)
    for option in --help '/?'; do
      run_expecting 0 0 "$option"
      says "Usage: weigh [--check | --list-ports | --help | --version]"
      says "Arguments that do not begin with -- are ignored"
      for code in 0 3 4 5 6 7; do grep -q "^  $code  " "$scratch/out" || fail "no exit status $code"; done
    done
    ;;
  version)
    # The version, the program file and its SHA-256, which must be what
    # sha256sum computes from the same file.
    run_expecting 0 0 --version
    [ "$(wc -l <"$scratch/out")" -eq 3 ] || fail "not three lines"
    [ "$(sed -n 1p "$scratch/out")" = "weigh $WEIGH_EXPECTED_VERSION" ] || fail "version: $(cat "$scratch/out")"
    program_file_is "$(sed -n 2p "$scratch/out")"
    [ "$(sed -n 3p "$scratch/out")" = "SHA-256: $(digest_of "$weigh")" ] ||
      fail "the digest is not sha256sum's $(digest_of "$weigh")"
    ;;
  version_unreadable_program)
    # A program file that cannot be read (execute only, and a user who is
    # not root) gives a line that says why, never a digest; --version then
    # fails, and --check says the same at its head.
    cp "$weigh" "$scratch/weigh"
    chmod 0711 "$scratch/weigh" "$scratch"
    as_user=()
    [ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    # Such a process cannot be traced, which the leak checker needs.
    export ASAN_OPTIONS=detect_leaks=0
    for option in --version --check; do
      status=0
      timeout 60 "${as_user[@]}" "$scratch/weigh" "$option" >"$scratch/out" 2>"$scratch/err" || status=$?
      first="weigh $WEIGH_EXPECTED_VERSION"
      [ "$option" = --check ] && first+=" --check in $(pwd)"
      [ "$(sed -n 1p "$scratch/out")" = "$first" ] || fail "$option: first line $(sed -n 1p "$scratch/out")"
      [ "$(sed -n 2p "$scratch/out")" = "Program file: $(realpath "$scratch/weigh")" ] ||
        fail "$option: no program file"
      sed -n 3p "$scratch/out" |
        grep -qx 'SHA-256: cannot be computed: the file cannot be opened: Permission denied (system code 13)' ||
        fail "$option: no reason in place of the digest"
      grep -Eq '[0-9a-f]{64}' "$scratch/out" && fail "$option: a digest is shown"
      [ "$option" = --check ] || [ "$status" -eq 1 ] || fail "--version: exit status $status, expected 1"
    done
    ;;
  usage_error)
    # A misspelt option sends, weighs and writes nothing, even with a
    # configured scale that would answer.
    start_scale stable:12.50
    for option in --chek --check=1 -- --CHECK; do
      run_expecting 2 0 x "$option"
      [ "$(wc -l <"$scratch/out")" -eq 1 ] || fail "the usage error is not one line"
      says "$option"
    done
    [ ! -e log.txt ] && [ ! -e raspuns ] || fail "a misspelt option weighed"
    ;;
  plain_run_with_arguments)
    # The same weighing with and without arguments that do not begin with --.
    start_scale stable:12.50
    weigh_in bare
    weigh_in with_arguments /x -check check 'C:\kantar' ''
    for run_folder in bare with_arguments; do
      [ "$(cat "$scratch/$run_folder/status")" = 0 ] || fail "$run_folder: exit status"
    done
    for file in Kavrin.inf raspuns/cant.txt; do
      cmp -s "$scratch/bare/$file" "$scratch/with_arguments/$file" || fail "$file differs"
    done
    printf '\00212.50\r\n' | cmp -s - "$scratch/with_arguments/raspuns/cant.txt" ||
      fail "no weight handed over"
    # The log lines differ in their time only.
    strip_time() { sed 's#^[0-9/]* - [0-9:]* - ##' "$1"; }
    [ "$(strip_time "$scratch/bare/log.txt")" = "$(strip_time "$scratch/with_arguments/log.txt")" ] ||
      fail "log.txt differs beyond the time"
    [ "$(wc -c <"$scratch/bare/log.txt")" = "$(wc -c <"$scratch/with_arguments/log.txt")" ] ||
      fail "log.txt differs in length"
    [ ! -s "$scratch/out" ] || fail "the weighing wrote to standard output"
    [ "$(requests)" -eq 2 ] || fail "$(requests) requests for two weighings"
    ;;
  check_good)
    start_scale stable:12.50
    run_expecting 0 1 --check
    says "1. Kavrin.inf: present"
    says "opened."
    says "01 02 53 20 20 31 32 2e 35 30 6b 67"
    says "<SOH><STX>S  12.50kg"
    says "stable, ends with EOT."
    says 'A weighing would hand over: "<STX>12.50"'
    says "log.txt: missing; a weighing creates it."
    says "raspuns\\cant.txt: no value waiting."
    verdict_is 0
    program_file_is "$(sed -n 2p "$scratch/out")"
    [ "$(sed -n 3p "$scratch/out")" = "SHA-256: $(digest_of "$weigh")" ] || fail "no digest at the head"
    ;;
  check_silent)
    start_scale silence
    run_expecting 5 1 --check
    says "Nothing arrived within"
    verdict_is 5
    ;;
  check_never_stable)
    start_scale unstable:12.40 stable:12.50
    run_expecting 6 1 --check
    says "unstable, ends with EOT."
    says "(A weighing would ask again now; this check does not.)"
    verdict_is 6
    ;;
  check_garbled)
    start_scale garbage:40
    run_expecting 6 1 --check
    says "neither stable nor unstable"
    says "garbled"
    verdict_is 6
    ;;
  check_no_stx)
    # Stable and ending with EOT, but nothing to cut a value from.
    start_scale raw:53206b6704
    run_expecting 7 1 --check
    says "no ETX"
    verdict_is 7
    ;;
  check_no_configuration)
    run_expecting 3 0 --check
    says "1. Kavrin.inf: missing."
    [ ! -e Kavrin.inf ] || fail "Kavrin.inf was created"
    verdict_is 3
    printf 'X' >Kavrin.inf
    run_expecting 3 0 --check
    says "as good as missing"
    ;;
  check_missing_port)
    printf 'NOSUCHPORT\r\n' >Kavrin.inf
    run_expecting 4 0 --check
    says 'First line: "NOSUCHPORT"'
    says "No such port"
    grep -qE "Serial ports present:|No serial port was found" "$scratch/out" || fail "no port list"
    verdict_is 4
    ;;
  check_not_a_port)
    printf 'secret\n' >"$scratch/file"
    if [ "$mode" = native ]; then
      mkfifo "$scratch/pipe"
      printf '%s\r\n' "$scratch/pipe" >Kavrin.inf
      run_expecting 4 0 --check
      says "not a port: names a pipe"
      verdict_is 4
      printf '%s\r\n' "$scratch/file" >Kavrin.inf
    else
      printf 'pipe\\scale\r\n' >Kavrin.inf
      run_expecting 4 0 --check
      says "not a port: names a path"
      verdict_is 4
      "$wine_run" "$prefix" --boot
      ln -sfn "$scratch/file" "$prefix/dosdevices/com$com"
      printf 'COM%s\r\n' "$com" >Kavrin.inf
    fi
    run_expecting 4 0 --check
    says "Not a port: Kavrin.inf names a file."
    tail -n1 "$scratch/out" | grep -qF "the port cannot be opened: not a port: names a file" ||
      fail "the verdict does not say why: $(tail -n1 "$scratch/out")"
    [ "$(cat "$scratch/file")" = secret ] || fail "the file changed"
    ;;
  check_port_busy)
    [ "$mode" = wine ] && { echo "skip: Wine does not refuse a second open of a COM port"; exit 0; }
    # A weighing holds the port while the scale stays silent (5 s).
    start_scale silence
    mkdir "$scratch/holder"
    cp Kavrin.inf "$scratch/holder/"
    (cd "$scratch/holder" && exec "$weigh" 2>/dev/null) &
    holder_pid=$!
    sleep 0.5
    run_expecting 4 1 --check
    says "In use"
    says "Held by process $holder_pid (weigh)"
    verdict_is 4
    ;;
  check_permission_denied)
    [ "$mode" = wine ] && { echo "skip: device permissions are a Linux matter"; exit 0; }
    [ "$(id -u)" -eq 0 ] || { echo "skip: needs root to run as another user"; exit 0; }
    start_scale stable:1.00
    chmod 0660 "$device"
    chmod 0666 Kavrin.inf
    chmod 0755 "$scratch"
    chmod 0777 .
    status=0
    setpriv --reuid=65534 --regid=65534 --clear-groups "$weigh" --check >"$scratch/out" 2>&1 ||
      status=$?
    [ "$status" -eq 4 ] || fail "exit status $status, expected 4"
    says "This user may not open it"
    says "belongs to user root and group"
    says "sudo usermod -aG"
    says "log out and in again"
    [ "$(requests)" -eq 0 ] || fail "something was sent"
    ;;
  check_files_not_writable)
    start_scale stable:2.00
    mkdir log.txt
    printf 'not a folder' >raspuns
    run_expecting 0 1 --check
    says "log.txt: is a folder: runs go unlogged."
    says "raspuns: is a file, not a folder: no value can be handed over."
    verdict_is 0
    says "but no value can be handed over"
    ;;
  check_value_waiting)
    start_scale stable:3.00
    mkdir raspuns
    printf '\0027.25\r\n' >raspuns/cant.txt
    printf 'old\r\n' >log.txt
    run_expecting 0 1 --check
    says "log.txt: exists and can be appended to."
    says 'a value is waiting: "<STX>7.25"'
    says 'the next weighing would show "Eroare"'
    says "but a value is waiting"
    verdict_is 0
    ;;
  list_ports)
    run_expecting 0 0 --list-ports
    if [ "$mode" = native ]; then
      expected=0
      for port in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM*; do
        [ -e "$port" ] || continue
        expected=$((expected + 1))
        grep -q "^$port  (" "$scratch/out" || fail "$port is not listed"
      done
      grep -q "^/dev/pts" "$scratch/out" && fail "a pseudo-terminal is listed"
      [ "$(grep -c '^/dev/tty[UA]' "$scratch/out" || true)" -le "$expected" ] || fail "too many ports"
    else
      # Windows keeps the machine's ports in the registry.
      key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
      WINEPREFIX=$prefix WINEDEBUG=-all wine reg add "$key" /v '\Device\WeighTest' /t REG_SZ \
        /d COM77 /f >/dev/null 2>&1 || fail "cannot write the registry"
      run_expecting 0 0 --list-ports
      says 'COM77  (listed by Windows as \Device\WeighTest)'
      # Without the registry's list, the names that the system answers to.
      # Wine makes its COM names when a session starts, from the ports it
      # finds and those configured under Software\Wine\Ports, and lists
      # them in the registry as Windows does: a new session lists this
      # case's port, and then the list goes.
      start_scale silence
      ports_key='HKLM\Software\Wine\Ports'
      WINEPREFIX=$prefix WINEDEBUG=-all wine reg add "$ports_key" /v "COM$com" /t REG_SZ \
        /d "$device" /f >/dev/null 2>&1 || fail "cannot configure the port"
      end_wine_session
      trap 'WINEPREFIX=$prefix WINEDEBUG=-all wine reg delete "$ports_key" /v "COM$com" /f \
        >/dev/null 2>&1; end_wine_session; cleanup' EXIT
      run_expecting 0 0 --list-ports
      grep -q "^COM$com  (listed by Windows" "$scratch/out" || fail "Wine did not list COM$com"
      WINEPREFIX=$prefix WINEDEBUG=-all wine reg delete "$key" /f >/dev/null 2>&1 || true
      run_expecting 0 0 --list-ports
      grep -q "^COM$com  (answers to its name" "$scratch/out" || fail "COM$com not found by its name"
      grep -q "COM77" "$scratch/out" && fail "the registry's list was used"
    fi
    ;;
  check_in_a_box)
    # Without standard output or a console to attach to, the report comes
    # in a message box titled "weigh".
    [ "$mode" = native ] && { echo "skip: the native program always has standard output"; exit 0; }
    [ -n "${DISPLAY:-}" ] || fail "no display for the message box"
    "$wine_run" "$prefix" --boot
    (WINEPREFIX=$prefix WINEDEBUG=-all exec timeout 120 wine "$weigh" --check >&- 2>&- </dev/null) &
    pid=$!
    box=""
    for _ in $(seq 300); do
      box=$(xdotool search --name '^weigh$' 2>/dev/null | head -n1 || true)
      [ -n "$box" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "$box" ] || fail "no box titled weigh"
    sleep 0.3
    xdotool windowactivate --sync "$box" key Return 2>/dev/null ||
      xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 3 ] || fail "exit status $status, expected 3"
    [ ! -e Kavrin.inf ] || fail "Kavrin.inf was created"
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "ok [$mode] $case_name"
