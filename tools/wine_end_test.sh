#!/usr/bin/env bash
# tools/wine-end against what `wineserver -k` can leave behind: Windows
# programs of the prefix whose server is gone. It must end them, and nothing
# that is not the prefix's Wine: a process that only has WINEPREFIX set, and
# Wine of another prefix.
#
#   wine_end_test.sh WINE_RUN PREFIX HOLD_FILE_EXE
set -euo pipefail
wine_run=$1 prefix=$(realpath -m "$2") holder=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
started=()
cleanup() {
  for pid in "${started[@]}"; do
    pkill -KILL -P "$pid" 2>/dev/null || true
    kill -KILL "$pid" 2>/dev/null || true
  done
  for pid in $(with_program hold-file.exe); do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# shellcheck source=scripts/test_harness.sh
. "$here/../scripts/test_harness.sh"

# with_program TEXT: the processes of the prefix whose command line holds TEXT.
with_program() {
  local environ pid
  for environ in $(grep -lzxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qF -- "$1" && echo "$pid"
  done
  return 0
}

# is_wine PID: true when the process is Wine, itself or through an
# interpreter (qemu-user).
is_wine() {
  case $(readlink "/proc/$1/exe" 2>/dev/null) in /usr/lib/wine/*) return 0 ;; esac
  { tr '\0' '\n' <"/proc/$1/cmdline"; } 2>/dev/null | grep -q '^/usr/lib/wine/'
}

"$wine_run" "$prefix" --boot

# Bystanders: a shell that merely has the prefix in its environment, and a
# process that looks like Wine but belongs to another prefix.
# Their output goes nowhere: CTest waits for whatever holds its pipe.
WINEPREFIX=$prefix bash -c 'sleep 600; :' >/dev/null 2>&1 &
started+=($!)
plain=$!
WINEPREFIX=$prefix.other bash -c 'sleep 600; :' /usr/lib/wine/wine >/dev/null 2>&1 &
started+=($!)
other=$!

# A Windows program that keeps running: it holds a file for 10 minutes. It
# is told from the holders of earlier tests of the prefix, which may still
# be on their way out, by its arguments.
holding="hold-file.exe held 600000 copy"
cd "$scratch"
echo held >held
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine "$holder" held 600000 copy \
  >"$scratch/out" 2>&1 &
# running: true once Wine itself runs it (not only the script `wine`) and
# its server is up.
running() {
  [ -n "$(with_program wineserver)" ] || return 1
  local pid
  for pid in $(with_program "$holding"); do is_wine "$pid" && return 0; done
  return 1
}
for _ in $(seq 300); do
  running && break
  sleep 0.2
done
running || { echo "FAIL: hold-file.exe did not start under Wine"; exit 1; }

# Its server goes away and leaves it behind, as under qemu-user it can.
# The server of an earlier test may have been on its way out when the
# holder started: then the holder is without its server already.
server=$(with_program wineserver)
if [ -n "$server" ]; then
  # shellcheck disable=SC2086
  kill -KILL $server
  sleep 1
else
  echo "note: the prefix's server had gone already"
fi
[ -n "$(with_program "$holding")" ] || echo "note: hold-file.exe ended with its server"

status=0
timeout 120 "$here/wine-end" "$prefix" || status=$?
[ "$status" -eq 0 ] || fail "wine-end exited $status"
left=$(with_program "$holding")
[ -z "$left" ] || fail "hold-file.exe still runs: $left"
left=$(for pid in $(with_program ""); do if is_wine "$pid"; then echo "$pid"; fi; done)
[ -z "$left" ] || fail "Wine processes of the prefix still run: $left"
kill -0 "$plain" 2>/dev/null || fail "a shell with WINEPREFIX set was ended"
kill -0 "$other" 2>/dev/null || fail "Wine of another prefix was ended"

finish_test
