#!/usr/bin/env bash
# What --check says a weighing will do with each station file, held against
# what a weighing then does, over a table of station folders.
#
#   differential_test.sh native WEIGH SCALE_SIM GROUP
#   differential_test.sh wine   WEIGH.EXE SCALE_SIM table WINE_RUN WINEPREFIX COM_NUMBER READ_BOXES
#
# GROUP is one of:
#   table  every case of the table: --check's line "In short, a weighing
#          would ..." against what the weighing that follows did to
#          Kavrin.inf, log.txt, raspuns and raspuns/cant.txt, and the
#          message it showed (natively without a display the message goes to
#          standard error; under Wine READ_BOXES, a Windows program, reads
#          each box titled Eroare, writes its text down and presses OK)
#   order  a lost log line is told after the value is handed over
#   race   another user swaps log.txt and Kavrin.inf with symbolic and
#          then hard links to a file only root may read while root runs
#          --check: that file is never opened and its first line never shown
#          (bounded in runs and time)
#
# Cases that need a second user run only as root: the other user is uid
# 65534, through setpriv.
#
# Under Wine the program reads "COM<COM_NUMBER>" from "Kavrin.inf", and that
# COM port of the prefix is linked to the simulated scale's pseudo-terminal.
set -euo pipefail

mode=$1 weigh=$(readlink -f "$2") sim=$(readlink -f "$3") group=$4
if [ "$mode" = wine ]; then
  wine_run=$5 prefix=$6 com=$7 read_boxes=$(readlink -f "$8")
  [ "$group" = table ] || { echo "skip: only the table runs under Wine"; exit 0; }
  # Without a display Wine shows no box, and a weighing's message is lost.
  [ -n "${DISPLAY:-}" ] || { echo "skip: Wine needs a display (DISPLAY) for the boxes"; exit 0; }
else
  [ "$mode" = native ] || { echo "unknown mode $mode"; exit 1; }
fi
[ -x "$sim" ] || { echo "no scale simulator at $sim"; exit 1; }

scratch=$(mktemp -d)
chmod 0755 "$scratch"
sim_pid="" watch_pid="" swap_pid="" reader_pid="" restore_hardlinks=""
cleanup() {
  [ -n "$restore_hardlinks" ] && echo "$restore_hardlinks" >/proc/sys/fs/protected_hardlinks || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  stop_reading_boxes
  if [ "$mode" = wine ]; then rm -f "$prefix/dosdevices/com$com"; fi
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null || true
  [ -n "$swap_pid" ] && kill "$swap_pid" 2>/dev/null || true
  cd /
  rm -rf "$scratch"
}
trap cleanup EXIT

root=no
[ "$(id -u)" -eq 0 ] && root=yes
as_other() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }

failures=0
fail_case() {
  echo "FAIL [$case_name]: $*"
  failures=$((failures + 1))
}

# Under Wine: the box reader, from the start of the table to its end, in
# $scratch. The boxes' texts go one after the other into $scratch/boxes.
start_reading_boxes() {
  "$wine_run" "$prefix" --boot
  : >"$scratch/boxes"
  (cd "$scratch" && WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    exec wine "$read_boxes" Eroare boxes stop-reading 1200) >"$scratch/reader.out" 2>&1 &
  reader_pid=$!
}
stop_reading_boxes() {
  [ -n "$reader_pid" ] || return 0
  : >"$scratch/stop-reading"
  local waited
  for waited in $(seq 100); do
    kill -0 "$reader_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$reader_pid" 2>/dev/null || true
  wait "$reader_pid" 2>/dev/null || true
  reader_pid=""
  [ "$waited" -lt 100 ] || echo "note: the box reader did not end by itself"
}

# Starts the simulated scale answering with VALUE; sets $device, the name
# that Kavrin.inf gives the program for it.
start_scale() {
  if [ -n "$sim_pid" ]; then
    # Gone before the next one starts: a scale still ending could write into
    # the files that the next one's output starts again in.
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  "$sim" "stable:$1" >"$scratch/sim.out" 2>"$scratch/sim.err" &
  sim_pid=$!
  # A loaded machine may take seconds to start it: wait while it lives.
  for _ in $(seq 600); do
    [ -s "$scratch/sim.out" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  device=$(head -n1 "$scratch/sim.out")
  if [ -z "$device" ]; then
    local status=0
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" || status=$?
    sim_pid=""
    echo "the simulated scale did not start (status $status): $(head -c 300 "$scratch/sim.err")"
    exit 1
  fi
  chmod 0666 "$device"
  if [ "$mode" = wine ]; then
    ln -sfn "$device" "$prefix/dosdevices/com$com"
    device=COM$com
  fi
}
requests() { grep -c 'request: step' "$scratch/sim.err" || true; }

# Kavrin.inf naming the scale in the encodings Notepad saves.
utf16() {
  local order=$1 text=$2
  if [ "$order" = le ]; then
    printf '\xff\xfe'
    printf '%s' "$text" | iconv -f ASCII -t UTF-16LE
  else
    printf '\xfe\xff'
    printf '%s' "$text" | iconv -f ASCII -t UTF-16BE
  fi
}

# Runs the weighing program as $runner with the arguments given (under Wine
# with the display, where its boxes are read).
run_program() {
  if [ "$mode" = wine ]; then
    timeout 120 "$wine_run" "$prefix" "${runner[@]}" "$@"
  else
    env -u DISPLAY timeout 90 "${runner[@]}" "$@"
  fi
}

# The state a weighing may change, to tell afterwards what it did.
state_of() {
  {
    stat -c '%F %s' Kavrin.inf 2>/dev/null | head -c 200 || echo none
    [ -f Kavrin.inf ] && md5sum <Kavrin.inf
    [ -d raspuns ] && echo "raspuns there"
    [ -e raspuns ] || [ -L raspuns ] || echo "raspuns missing"
  } 2>/dev/null || true
}

# What the weighing that just ran did, in --check's words, by what changed
# and what it said.
observe() {
  local before_requests=$1 kavrin_before=$2 log_was=$3 folder_was=$4 value=$5
  if [ "$(requests)" -gt "$before_requests" ]; then
    did_config="read the port name from Kavrin.inf"
  elif [ -f Kavrin.inf ] && [ "$(cat Kavrin.inf)" = $'COM1\r' ] &&
    [ "$kavrin_before" != "$(md5sum <Kavrin.inf)" ]; then
    did_config="write COM1 into Kavrin.inf"
  else
    did_config="leave Kavrin.inf alone"
  fi
  # Without a port name there is no reading: the value is empty.
  [ "$did_config" = "read the port name from Kavrin.inf" ] || value=""
  shown_value=""
  [ -n "$value" ] && shown_value=$'\002'"$value"
  if grep -q 'Fisierul log.txt nu poate fi scris' weigh.err; then
    did_log="lose its log line"
  elif [ -f log.txt ] && tail -n1 log.txt | tr -d '\r' | grep -qxF -e "$(tail -n1 log.txt |
    tr -d '\r' | sed 's/Cantitate noua : .*//')Cantitate noua : $shown_value"; then
    if [ "$log_was" = file ]; then did_log="append its line to log.txt"; else did_log="create log.txt"; fi
  else
    did_log="lose its log line without a word"
  fi
  if [ "$folder_was" = missing ] && [ -d raspuns ]; then
    did_folder="make raspuns"
  else
    did_folder="not make raspuns"
  fi
  if grep -q 'Cantitate netratata' weigh.err; then
    did_handoff="show the waiting value"
  elif grep -q 'Fisierul raspuns\\cant.txt nu poate fi scris' weigh.err; then
    did_handoff="say the value cannot be written"
  elif [ -f raspuns/cant.txt ] && [ "$(tr -d '\002\r' <raspuns/cant.txt)" = "$value" ]; then
    did_handoff="hand its value over"
  else
    did_handoff="lose its value without a word"
  fi
}

# run_case NAME [nobody]: the folder is set up by the function setup_NAME
# in $scratch/NAME with Kavrin.inf naming the scale; --check and then a
# weighing run there (as the user nobody with "nobody") and what --check
# said is held against what the weighing did.
value_number=10
run_case() {
  case_name=$1
  local as=${2:-self}
  value_number=$((value_number + 1))
  local value="$value_number.25"
  mkdir "$scratch/$case_name"
  cd "$scratch/$case_name"
  start_scale "$value"
  printf '%s\r\n' "$device" >Kavrin.inf
  runner=("$weigh")
  if [ "$as" = nobody ]; then
    chmod 0777 .
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups "$weigh")
  fi
  "setup_$case_name"
  local status=0
  run_program --check >check.out 2>&1 || status=$?
  # A Windows program's output ends its lines with CR LF.
  sed -i 's/\r$//' check.out
  local said
  said=$(sed -n 's/^   In short, a weighing would \(.*\)\.$/\1/p' check.out)
  if [ -z "$said" ]; then
    fail_case "--check gave no summary (exit status $status): $(tail -n3 check.out)"
    cd "$scratch"
    return
  fi
  local said_config said_log said_folder said_handoff rest
  said_config=${said%%, *}
  rest=${said#*, }
  said_log=${rest%%, *}
  rest=${rest#*, }
  said_folder=${rest%% and *}
  said_handoff=${rest#* and }
  [ "$said_folder" = "make raspuns" ] || said_folder="not make raspuns"

  local before_requests kavrin_before log_was=missing folder_was=there
  before_requests=$(requests)
  kavrin_before=$([ -f Kavrin.inf ] && md5sum <Kavrin.inf || echo none)
  [ -f log.txt ] && log_was=file
  [ -e raspuns ] || [ -L raspuns ] || folder_was=missing
  status=0
  local boxes_before=0
  if [ "$mode" = wine ]; then
    # Without the reader a box would wait for OK until the time runs out.
    kill -0 "$reader_pid" 2>/dev/null ||
      { echo "the box reader has ended: $(tail -c 300 "$scratch/reader.out")"; exit 1; }
    boxes_before=$(stat -c %s "$scratch/boxes")
  fi
  run_program >weigh.out 2>weigh.err || status=$?
  # What the boxes of this weighing said: the reader writes a box's text down
  # before it presses OK, so all of it is there once the weighing has ended.
  if [ "$mode" = wine ]; then tail -c +$((boxes_before + 1)) "$scratch/boxes" >>weigh.err; fi
  [ "$status" -eq 0 ] || fail_case "the weighing ended with status $status: $(head -c 300 weigh.err)"
  grep -q 'AddressSanitizer\|runtime error' weigh.err && fail_case "the weighing crashed: $(head -c 300 weigh.err)"
  observe "$before_requests" "$kavrin_before" "$log_was" "$folder_was" "$value"
  echo "[$case_name] $did_config, $did_log, $did_folder and $did_handoff"
  [ "$said_config" = "$did_config" ] ||
    fail_case "--check: \"$said_config\"; the weighing did: \"$did_config\""
  [ "$said_log" = "$did_log" ] || fail_case "--check: \"$said_log\"; the weighing did: \"$did_log\""
  [ "$said_folder" = "$did_folder" ] ||
    fail_case "--check: \"$said_folder\"; the weighing did: \"$did_folder\""
  [ "$said_handoff" = "$did_handoff" ] ||
    fail_case "--check: \"$said_handoff\"; the weighing did: \"$did_handoff\""
  # Where the table says what must happen, whatever --check says.
  local expected="expect_$case_name"
  if [ -n "${!expected:-}" ] && [ "$did_handoff" != "${!expected}" ]; then
    fail_case "the weighing did: \"$did_handoff\", not \"${!expected}\""
  fi
  local expected_config="${mode}_expect_config_$case_name"
  if [ -n "${!expected_config:-}" ] && [ "$did_config" != "${!expected_config}" ]; then
    fail_case "the weighing did: \"$did_config\", not \"${!expected_config}\""
  fi
  # A value that is not handed over is in the one message.
  if [ "$did_handoff" != "hand its value over" ] && ! grep -qF "NETRATATA : $shown_value" weigh.err; then
    fail_case "the value $value is in no message: $(head -c 300 weigh.err)"
  fi
  cd "$scratch"
}

# The table. Each setup gets a folder with Kavrin.inf naming the scale;
# expect_CASE names what the weighing must do with its value there.
expect_raspuns_linked_to_itself="say the value cannot be written"
expect_raspuns_chain_of_50="say the value cannot be written"
expect_log_hard_link="hand its value over"
expect_value_waiting="show the waiting value"
expect_empty_value_waiting="show the waiting value"
setup_fresh() { rm Kavrin.inf; }
setup_usual() { printf 'old\r\n' >log.txt; mkdir raspuns; }
setup_log_read_only() { printf 'old\r\n' >log.txt && chmod 0444 log.txt; }
setup_folder_read_only() { chmod 0555 .; }
setup_log_is_a_folder() { mkdir log.txt; }
setup_log_is_a_fifo() { mkfifo log.txt; }
setup_log_is_a_device() { mknod log.txt c 1 3; }
setup_log_hard_link() { printf 'elsewhere\r\n' >../hard-"$case_name" && ln ../hard-"$case_name" log.txt; }
setup_log_others_link() {
  chmod 1777 .
  printf 'x\r\n' >"$scratch/target-$case_name" && chmod 0666 "$scratch/target-$case_name"
  as_other ln -s "$scratch/target-$case_name" log.txt
}
setup_log_roots_link() {
  mkdir logs
  ln -s logs/weigh.log log.txt
}
setup_log_chain_through_others_link() {
  chmod 1777 .
  printf 'x\r\n' >"$scratch/target-$case_name" && chmod 0666 "$scratch/target-$case_name"
  as_other ln -s "$scratch/target-$case_name" middle
  ln -s middle log.txt
}
setup_raspuns_of_other_user() {
  chmod 1777 .
  as_other mkdir -m 0777 raspuns
}
setup_raspuns_others_link() {
  chmod 1777 .
  mkdir -m 0777 "$scratch/elsewhere-$case_name"
  as_other ln -s "$scratch/elsewhere-$case_name" raspuns
}
setup_raspuns_chain_through_others_link() {
  chmod 1777 .
  mkdir -m 0777 "$scratch/elsewhere-$case_name"
  as_other ln -s "$scratch/elsewhere-$case_name" middle
  ln -s middle raspuns
}
setup_raspuns_linked_to_itself() { ln -s raspuns raspuns; }
setup_raspuns_chain_of_50() {
  local hop
  for hop in $(seq 1 49); do ln -s "hop$((hop + 1))" "hop$hop"; done
  mkdir hop50.dir
  ln -s hop50.dir hop50
  ln -s hop1 raspuns
}
setup_sticky_folder() { chmod 1777 .; }
setup_sticky_group_folder() { chmod 1770 .; }
setup_value_waiting() { mkdir raspuns && printf '\0027.25\r\n' >raspuns/cant.txt; }
setup_empty_value_waiting() { mkdir raspuns && : >raspuns/cant.txt; }
setup_cant_hard_link() {
  mkdir raspuns
  printf 'root-only\r\n' >../cant-"$case_name" && chmod 0600 ../cant-"$case_name"
  ln ../cant-"$case_name" raspuns/cant.txt
}
setup_cant_is_a_folder() { mkdir -p raspuns/cant.txt; }
setup_kavrin_utf8_mark() { printf '\xef\xbb\xbf%s\r\n' "$device" >Kavrin.inf; }
setup_kavrin_utf16_le() { utf16 le "$device"$'\r\n' >Kavrin.inf; }
setup_kavrin_utf16_be() { utf16 be "$device"$'\r\n' >Kavrin.inf; }
setup_kavrin_utf16_odd_byte() { { utf16 le "$device"; printf 'C'; } >Kavrin.inf; }
setup_kavrin_is_a_folder() { rm Kavrin.inf && mkdir Kavrin.inf; }
setup_kavrin_is_a_fifo() { rm Kavrin.inf && mkfifo Kavrin.inf; }
setup_kavrin_is_a_device() { rm Kavrin.inf && mknod Kavrin.inf c 1 3; }
setup_kavrin_one_byte() { printf 'C' >Kavrin.inf; }
setup_kavrin_hard_link_private() {
  chmod 0755 .
  mv Kavrin.inf ../kavrin-"$case_name" && ln ../kavrin-"$case_name" Kavrin.inf
}
setup_kavrin_hard_link_shared() {
  chmod 1777 .
  mv Kavrin.inf ../kavrin-"$case_name" && ln ../kavrin-"$case_name" Kavrin.inf
}
setup_kavrin_others_link() {
  chmod 1777 .
  mv Kavrin.inf ../kavrin-"$case_name" && chmod 0644 ../kavrin-"$case_name"
  as_other ln -s ../kavrin-"$case_name" Kavrin.inf
}
setup_kavrin_roots_link() {
  mv Kavrin.inf ../kavrin-"$case_name" && ln -s ../kavrin-"$case_name" Kavrin.inf
}

run_table() {
  local case_name
  if [ "$mode" = wine ]; then
    run_wine_table
    return
  fi
  for case_name in fresh usual log_is_a_folder log_is_a_fifo log_hard_link log_roots_link \
    raspuns_linked_to_itself raspuns_chain_of_50 sticky_folder value_waiting \
    empty_value_waiting cant_hard_link cant_is_a_folder kavrin_utf8_mark kavrin_utf16_le \
    kavrin_utf16_be kavrin_utf16_odd_byte kavrin_is_a_folder kavrin_is_a_fifo kavrin_one_byte \
    kavrin_hard_link_private kavrin_hard_link_shared kavrin_roots_link; do
    run_case "$case_name"
  done
  if [ "$root" = yes ]; then
    for case_name in log_is_a_device kavrin_is_a_device log_others_link \
      log_chain_through_others_link raspuns_of_other_user raspuns_others_link \
      raspuns_chain_through_others_link kavrin_others_link sticky_group_folder; do
      run_case "$case_name"
    done
    for case_name in log_read_only folder_read_only; do
      run_case "$case_name" nobody
    done
  else
    echo "note: the cases of a second user need root"
  fi
}

# The cases that mean something on Windows and that Wine can show. Left
# out: FIFOs, devices, sticky folders, folders and files of another user and
# their links are POSIX matters (Wine takes every file for this user's and
# has no devices or FIFOs in a folder). A read-only log.txt is left out too:
# Wine keeps the read-only attribute only in the mode bits, which root (as
# these tests run) writes through, so the weighing appends where Windows
# would refuse; that --check and a weighing then agree rests on both asking
# the same function. What some cases show on Wine is less than the Windows
# fact they stand for:
# - kavrin_hard_link_private: a Kavrin.inf with a second name is refused on
#   Windows whoever made the name (no write bits tell who may make one);
#   Wine gives the Linux link count, so the rule itself is what is shown.
# - raspuns_linked_to_itself, log_roots_link: Wine follows Linux symbolic
#   links itself, so the program meets a broken name or the file behind the
#   link where Windows would meet a reparse point; only the agreement of
#   --check and a weighing is shown.
# On Windows no write bits tell who may make a second name of Kavrin.inf:
# one is refused whoever made it.
# shellcheck disable=SC2034 # read through ${!expected_config}
wine_expect_config_kavrin_hard_link_private="leave Kavrin.inf alone"
run_wine_table() {
  local case_name
  start_reading_boxes
  for case_name in fresh usual log_is_a_folder log_hard_link log_roots_link \
    raspuns_linked_to_itself value_waiting empty_value_waiting cant_hard_link cant_is_a_folder \
    kavrin_utf8_mark kavrin_utf16_le kavrin_utf16_be kavrin_utf16_odd_byte kavrin_is_a_folder \
    kavrin_one_byte kavrin_hard_link_private; do
    run_case "$case_name"
  done
  stop_reading_boxes
}

# A log line that is lost: the value is handed over first, and only then
# does the message say so. The order of the system calls tells.
run_order() {
  case_name=order
  command -v strace >/dev/null || { echo "skip: no strace"; exit 0; }
  mkdir "$scratch/order" && cd "$scratch/order"
  start_scale 3.50
  printf '%s\r\n' "$device" >Kavrin.inf
  mkdir log.txt
  env -u DISPLAY strace -f -qq -o "$scratch/trace" -e trace=linkat,renameat2,rename,write \
    timeout 60 "$weigh" 2>weigh.err || true
  grep -q 'Fisierul log.txt nu poate fi scris' weigh.err || fail_case "no message: $(cat weigh.err)"
  [ "$(tr -d '\002\r' <raspuns/cant.txt)" = 3.50 ] || fail_case "the value was not handed over"
  local placed told
  placed=$(grep -n -E '(linkat|renameat2|rename)\(.*"cant.txt"' "$scratch/trace" | head -n1 | cut -d: -f1)
  told=$(grep -n 'write(2, "Eroare' "$scratch/trace" | head -n1 | cut -d: -f1)
  [ -n "$placed" ] && [ -n "$told" ] || fail_case "the trace shows no handoff or no message"
  [ -n "$placed" ] && [ -n "$told" ] && [ "$placed" -lt "$told" ] ||
    fail_case "the message came before the value was handed over"
}

# Another user swaps log.txt and Kavrin.inf, in a folder everyone may
# write, between files of its own and links to a file only root may read,
# while root runs --check again and again: first symbolic links, then, with
# fs.protected_hardlinks 0 (so that the other user may link to a file it
# cannot read), hard links.
run_race() {
  case_name=race
  [ "$root" = yes ] || { echo "skip: needs root to act as another user"; exit 0; }
  command -v inotifywait >/dev/null || { echo "skip: no inotifywait"; exit 0; }
  [ -x /usr/bin/python3 ] || { echo "skip: no /usr/bin/python3 for the other user"; exit 0; }
  printf 'SECRET-FIRST-LINE\r\n' >"$scratch/secret"
  chmod 0600 "$scratch/secret"
  inotifywait -q -m -e open,access,modify "$scratch/secret" >"$scratch/secret.events" 2>&1 &
  watch_pid=$!
  sleep 0.3
  race_round symlink
  local protected
  protected=$(cat /proc/sys/fs/protected_hardlinks 2>/dev/null || echo "")
  if [ -n "$protected" ] && echo 0 2>/dev/null >/proc/sys/fs/protected_hardlinks; then
    restore_hardlinks=$protected
    race_round hardlink
    echo "$restore_hardlinks" >/proc/sys/fs/protected_hardlinks
    restore_hardlinks=""
  else
    echo "note: fs.protected_hardlinks cannot be set here; the hard link round is left out"
  fi
  sleep 0.3
  [ -s "$scratch/secret.events" ] &&
    fail_case "the file only root may read was opened: $(head -n3 "$scratch/secret.events")"
  return 0
}

# One round of swaps of KIND (symlink or hardlink) against runs of --check,
# bounded at 100 runs or 30 s.
race_round() {
  local kind=$1
  mkdir -m 0777 "$scratch/race-$kind" && cd "$scratch/race-$kind"
  # Started directly, so that its process is the one ended afterwards.
  # A tight loop of renames, so that the swap falls between any look at a
  # name and an open of it in a fair share of the runs.
  setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c '
import os, sys
secret, kind = sys.argv[1], sys.argv[2]
while True:
    for final in ("Kavrin.inf", "log.txt"):
        with open("swap.new", "w") as f: f.write("COM9\r\n")
        os.rename("swap.new", final)
        if kind == "symlink":
            os.symlink(secret, "swap.new")
        else:
            os.link(secret, "swap.new")
        os.rename("swap.new", final)
' "$scratch/secret" "$kind" >"$scratch/swap.err" 2>&1 &
  swap_pid=$!
  local runs=0 deadline=$((SECONDS + 30))
  while [ "$runs" -lt 100 ] && [ "$SECONDS" -lt "$deadline" ]; do
    env -u DISPLAY timeout 30 "$weigh" --check >"$scratch/race.out" 2>&1 || true
    if grep -q SECRET "$scratch/race.out"; then
      fail_case "$kind run $runs showed the first line of a file only root may read"
      break
    fi
    runs=$((runs + 1))
  done
  kill "$swap_pid" 2>/dev/null || true
  wait "$swap_pid" 2>/dev/null || true
  swap_pid=""
  # A swapper that could not make its links proves nothing.
  [ -s "$scratch/swap.err" ] &&
    fail_case "the $kind swapper failed: $(tail -n2 "$scratch/swap.err")"
  echo "race: $runs runs of --check against $kind swaps"
  cd "$scratch"
}

case $group in
  table) run_table ;;
  order) run_order ;;
  race) run_race ;;
  *) echo "unknown group $group"; exit 1 ;;
esac
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "ok"
