#!/usr/bin/env bash
# planted_dll_test.sh WEIGH.EXE PLANTED.DLL SCALE_SIM WINE_RUN WINEPREFIX COM_NUMBER
#
# Whoever may add files to the station's folder must not get code into
# weigh.exe. This copies weigh.exe into a folder, plants PLANTED.DLL beside
# it under the names of the DLLs that a weighing with its "Eroare" box,
# --check and --version load, and tells Wine to prefer a DLL found there
# ("=n,b"), as Windows' own search order would for any DLL that is not a
# KnownDLL. A planted DLL that gets loaded leaves "<name>.dll.ran" beside
# itself. None may.
#
# What Wine cannot show: Windows takes the DLLs that weigh.exe imports
# (ADVAPI32, KERNEL32, msvcrt, ole32, USER32) and the system DLLs those pull
# in from its KnownDLLs, whatever lies beside the program; Wine has no such
# rule for a DLL it was told to prefer, so those names are not planted here
# (windows_imports_test.sh keeps the imports to them). Wine's own helpers
# that its built-in DLLs load at start (win32u, zlib1, and imm32, msimg32 and
# version for its USER32 and GDI32) have no such load on Windows and are not
# planted either: Wine would take them from the folder before main.
set -euo pipefail

weigh=$1 planted=$2 sim=$3 wine_run=$4 prefix=$5 com=$6
[ -x "$sim" ] || { echo "no scale simulator at $sim (build the native preset first)"; exit 1; }

# Loaded after main by a weighing, its box, --check or --version (under
# Wine, WINEDEBUG=+loaddll), and WINMM, which weigh.exe once imported.
# COMCTL32 is named bare on purpose: the manifest's side-by-side assembly
# must answer for it.
names="winmm uxtheme comctl32 bcrypt crypt32 rsaenh oleaut32 dwmapi shell32 shlwapi setupapi \
cfgmgr32 msctf"

scratch=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$prefix/dosdevices/com$com"
  rm -rf "$scratch"
}
trap cleanup EXIT
station=$scratch/station
mkdir "$station"
cd "$station"
cp "$weigh" weigh.exe
for name in $names; do cp "$planted" "$name.dll"; done
overrides="$(tr ' ' ',' <<<"$names" | tr -s ,)=n,b;mscoree,mshtml="

fail() {
  echo "FAIL: $*"
  [ -s "$scratch/trace" ] && grep -a 'Loaded L' "$scratch/trace" | grep -ai 'station' | head -20
  exit 1
}

# run_weigh ARGS...: runs the copy of weigh.exe in the station's folder,
# its trace of loaded DLLs in $scratch/trace; then no planted DLL may have
# left its mark.
run_weigh() {
  "$wine_run" "$prefix" --boot
  local status=0
  WINEPREFIX=$prefix WINEDEBUG=+loaddll WINEDLLOVERRIDES=$overrides \
    timeout 120 wine weigh.exe "$@" >"$scratch/out" 2>"$scratch/trace" || status=$?
  local ran
  ran=$(ls ./*.ran 2>/dev/null || true)
  [ -z "$ran" ] || fail "weigh.exe $* loaded a planted DLL: $(echo $ran)"
  # The override took: Wine would have loaded a planted DLL had it been asked.
  grep -aq 'Loaded L".*weigh.exe' "$scratch/trace" || fail "no trace of loaded DLLs"
  return $status
}

"$sim" --quiet stable:1.25 stable:1.25 >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/sim.out" ] && break
  sleep 0.05
done
[ -s "$scratch/sim.out" ] || fail "the simulated scale did not start"
"$wine_run" "$prefix" --boot
ln -sfn "$(head -n1 "$scratch/sim.out")" "$prefix/dosdevices/com$com"
printf 'COM%s\r\n' "$com" >Kavrin.inf

# A weighing that meets a waiting value and shows its box, which is
# answered; without a display, a weighing that hands its value over.
if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
  mkdir raspuns
  printf 'waiting\r\n' >raspuns/cant.txt
  run_weigh &
  weighing=$!
  # Return on every box titled Eroare until the weighing has ended.
  while kill -0 "$weighing" 2>/dev/null; do
    for window in $(xdotool search --name '^Eroare$' 2>/dev/null || true); do
      xdotool windowactivate --sync "$window" key Return 2>/dev/null ||
        xdotool windowfocus --sync "$window" key Return 2>/dev/null || true
    done
    sleep 0.3
  done
  wait "$weighing" || fail "the weighing ended with status $?"
  grep -aq 'Cantitate noua' log.txt || fail "the weighing did not log its value"
else
  echo "no display: the box is not shown"
  run_weigh || fail "the weighing ended with status $?"
  [ -s raspuns/cant.txt ] || fail "the weighing handed nothing over"
fi

run_weigh --version || fail "--version ended with status $?"
grep -aq '^SHA-256: [0-9a-f]\{64\}' "$scratch/out" || fail "--version showed no digest"
rm -rf raspuns
status=0
run_weigh --check || status=$?
[ "$status" -eq 0 ] || fail "--check ended with status $status: $(tr -d '\r' <"$scratch/out" | tail -3)"
echo "ok: no planted DLL was loaded ($(wc -w <<<"$names") names)"
