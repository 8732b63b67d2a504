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

# shellcheck source=station/end_to_end_common.sh
. "$(dirname "$0")/end_to_end_common.sh"

fail() {
  echo "FAIL [$case_name]: $*"
  [ -f "$scratch/out" ] && { echo "--- output:"; head -60 "$scratch/out"; }
  [ -s "$scratch/err" ] && { echo "--- standard error:"; head -20 "$scratch/err"; }
  [ -f "$scratch/sim.err" ] && { echo "--- scale:"; head -20 "$scratch/sim.err"; }
  exit 1
}

# How many requests the scale has received: it traces each (start_scale
# gives it no --quiet).
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
  folder_outside_the_code_page)
    # A folder named with letters that the ANSI code page of a Romanian
    # Windows (1250) lacks: ț (t with comma below). --version names the
    # program file and hashes that very file; --check names the folder.
    folder="$scratch/Recepție"
    mkdir "$folder"
    cp "$weigh" "$folder/"
    weigh="$folder/$(basename "$weigh")"
    cd "$folder"
    run_expecting 0 0 --version
    program_file_is "$(sed -n 2p "$scratch/out")"
    [ "$(sed -n 3p "$scratch/out")" = "SHA-256: $(digest_of "$weigh")" ] ||
      fail "the digest is not sha256sum's $(digest_of "$weigh")"
    if [ "$mode" = wine ]; then
      # Wine started from a terminal makes it a console: the letters go
      # through the console's wide output, which Wine writes as UTF-8.
      WINEPREFIX=$prefix WINEDEBUG=-all timeout 120 script -qec "wine $(printf %q "$weigh") --version" \
        /dev/null | sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g; s/\r//g' >"$scratch/out" || fail "no console run"
      program_file_is "$(sed -n 2p "$scratch/out")"
    fi
    run_expecting 3 0 --check
    here=$(pwd)
    [ "$mode" = wine ] && here="Z:$(tr / '\\' <<<"$here")"
    [ "$(sed -n 1p "$scratch/out")" = "weigh $WEIGH_EXPECTED_VERSION --check in $here" ] ||
      fail "the folder is not named $here"
    program_file_is "$(sed -n 2p "$scratch/out")"
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
  check_notepad_encodings)
    # Kavrin.inf as Notepad saves it as "UTF-8" (with a byte order mark) and
    # as "Unicode" (UTF-16 LE with its mark): --check names the encoding and
    # finds the port, and a weighing hands the weight over.
    start_scale stable:12.50
    name=$(head -c -2 Kavrin.inf)
    for encoding in utf8 utf16; do
      if [ $encoding = utf8 ]; then
        printf '\xef\xbb\xbf%s\r\n' "$name" >Kavrin.inf
        words="Saved as UTF-8 with a byte order mark (Notepad's \"UTF-8\"): read after the mark."
      else
        printf '%s\r\n' "$name" | iconv -f ASCII -t UTF-16LE | { printf '\xff\xfe'; cat; } >Kavrin.inf
        words="Saved as UTF-16 (Notepad's \"Unicode\"): read as such."
      fi
      run_expecting 0 $(($(requests) + 1)) --check
      says "$words"
      says "First line: \"$name\""
      verdict_is 0
      before=$(requests)
      run
      [ "$status" -eq 0 ] || fail "$encoding: the weighing's exit status $status"
      printf '\00212.50\r\n' | cmp -s - raspuns/cant.txt || fail "$encoding: no weight handed over"
      rm -r raspuns log.txt
      [ "$(requests)" -eq $((before + 1)) ] || fail "$encoding: the weighing did not ask the scale"
    done
    # A letter outside ASCII (ș) is in no port name.
    printf '\xff\xfeC\0O\0M\0\x19\x02\r\0\n\0' >Kavrin.inf
    run_expecting 3 $(requests) --check
    says "Its first line holds letters outside ASCII, which no port name has"
    verdict_is 3
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
    # A character device that is no serial line, in the same words on both
    # systems.
    [ "$mode" = native ] && device_name=/dev/null || device_name=NUL
    printf '%s\r\n' "$device_name" >Kavrin.inf
    run_expecting 4 0 --check
    says "not a port: names a device that is no serial line"
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
  check_other_users)
    # Files and folders of another user, in a folder that everyone may write
    # (sticky natively): --check names each with its owner and what that
    # user can do, and changes nothing. Under Wine every Linux user but the
    # one running it shows as the same account.
    [ "$(id -u)" -eq 0 ] || { echo "skip: needs root to act as another user"; exit 0; }
    as_other() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    other=$(id -nu 65534 2>/dev/null || echo 65534)
    [ "$mode" = wine ] && other='NT AUTHORITY\ANONYMOUS LOGON'
    start_scale stable:4.00
    chmod 0755 "$scratch"
    chmod 1777 .
    mkdir -m 1777 raspuns
    run_expecting 0 1 --check
    if [ "$mode" = native ]; then
      says "This folder is sticky, but other users may write it: they can make"
      says "   log.txt before a weighing does."
      says "raspuns is sticky, but other users may write it: they can make"
      says "   cant.txt before a weighing does."
    fi
    grep -q "belongs to user" "$scratch/out" && fail "a file of this user named as another's"
    rmdir raspuns
    as_other mkdir -m 1777 raspuns
    as_other sh -c 'printf "old\r\n" >log.txt; printf "\0029.99\r\n" >raspuns/cant.txt'
    mv Kavrin.inf "$scratch/config" && as_other cp "$scratch/config" Kavrin.inf
    run_expecting 0 2 --check
    for name in Kavrin.inf log.txt raspuns 'raspuns\cant.txt'; do
      says "   $name belongs to user $other,"
    done
    says "who can change which port a weighing uses."
    says "A weighing still goes on."
    grep -q "This folder belongs" "$scratch/out" && fail "this user's folder named as another's"
    grep -q "is sticky" "$scratch/out" && fail "a sticky folder of another user, or one with every name there"
    verdict_is 0
    chown 65534 .
    run_expecting 0 3 --check
    says "This folder belongs to user $other,"
    if [ "$mode" = wine ]; then
      # The folder holding the program, which Wine's access list takes
      # from the Linux permissions.
      mkdir "$scratch/program"
      cp "$weigh" "$scratch/program/"
      weigh="$scratch/program/$(basename "$weigh")"
      chmod 0777 "$scratch/program"
      run_expecting 0 4 --check
      says "The folder holding this program lets ordinary users add files"
      chmod 0755 "$scratch/program"
      run_expecting 0 5 --check
      says "The folder holding this program does not let ordinary users add files."
    fi
    ;;
  check_foreign_config)
    # Kavrin.inf as another user's link (natively), or as a second name of
    # a file only root may read: --check neither reads nor shows what it
    # leads to.
    printf 'SECRET-FIRST-LINE\n' >"$scratch/secret"
    chmod 0600 "$scratch/secret"
    if [ "$mode" = native ] && [ "$(id -u)" -eq 0 ]; then
      chmod 0755 "$scratch"
      chmod 1777 .
      setpriv --reuid=65534 --regid=65534 --clear-groups ln -s "$scratch/secret" Kavrin.inf
      run_expecting 3 0 --check
      says "1. Kavrin.inf: is a link that another user made"
      grep -q SECRET "$scratch/out" && fail "another user's link was read"
      verdict_is 3
      rm Kavrin.inf
    fi
    # Another user can make such a name where fs.protected_hardlinks is 0
    # and the folder lets others make names (on Windows, where Windows does
    # not ask for write access, always).
    chmod 0755 "$scratch"
    chmod 0777 .
    ln "$scratch/secret" Kavrin.inf
    run_expecting 3 0 --check
    says "1. Kavrin.inf: has 2 names (hard links)"
    grep -q SECRET "$scratch/out" && fail "a file with a second name was read"
    verdict_is 3
    if [ "$mode" = native ]; then
      # Where only this user may make names, the second one is this user's
      # own: read, as a weighing reads it.
      chmod 0755 .
      run_expecting 4 0 --check
      says '   First line: "SECRET-FIRST-LINE"'
    fi
    ;;
  check_handoff_folder)
    # --check gives a weighing's verdict on raspuns: a cant.txt with a second
    # name is not read, and natively neither is a folder that another user
    # made nor root's link that leads through another user's link.
    printf 'SECRET-FIRST-LINE\r\n' >"$scratch/secret"
    chmod 0600 "$scratch/secret"
    start_scale stable:4.00
    mkdir raspuns
    ln "$scratch/secret" raspuns/cant.txt
    run_expecting 0 1 --check
    says 'raspuns\cant.txt: has a second name (a hard link)'
    grep -q SECRET "$scratch/out" && fail "a file with a second name was read"
    rm raspuns/cant.txt
    rmdir raspuns
    if [ "$mode" = native ] && [ "$(id -u)" -eq 0 ]; then
      as_other() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
      chmod 0755 "$scratch"
      chmod 1777 .
      mkdir -m 0700 "$scratch/root-only"
      as_other ln -s "$scratch/root-only" other-link
      ln -s other-link raspuns
      run_expecting 0 2 --check
      says "raspuns: is a link that another user made, or leads through one"
      grep -q "folder exists" "$scratch/out" && fail "a folder reached through another user's link"
      rm raspuns other-link
      as_other mkdir raspuns
      run_expecting 0 3 --check
      says "raspuns: is a folder that another user made"
      says "no value can be handed over"
    fi
    ;;
  check_escapes)
    # Outside texts reach the terminal with their control bytes named: a
    # misspelt option, and natively the folder's name, the program's path
    # and the name of a process that holds the port (Windows names hold no
    # control bytes).
    run_expecting 2 0 $'--x\033[2J'
    says "--x<ESC>[2J"
    grep -q $'\033' "$scratch/out" && fail "an escape byte reached the output"
    [ "$mode" = wine ] && { echo "ok [$mode] $case_name (the option only)"; exit 0; }
    folder=$'\033]0;owned\a'
    mkdir -p "$folder"
    cp "$weigh" "$folder/weigh"
    holder=$'w\033[1m'
    cp "$weigh" "$scratch/$holder"
    cd "$folder"
    weigh="$PWD/weigh"
    start_scale silence
    (exec "$scratch/$holder" 2>/dev/null) &
    holder_pid=$!
    sleep 0.5
    run_expecting 4 1 --check
    says "--check in $scratch/run/<ESC>]0;owned<BEL>"
    says "Program file: $scratch/run/<ESC>]0;owned<BEL>/weigh"
    says "Held by process $holder_pid (w<ESC>[1m)"
    grep -q $'[\033\a]' "$scratch/out" && fail "a control byte reached the output"
    verdict_is 4
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
