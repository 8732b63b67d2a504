#!/usr/bin/env bash
# planted_dll_test.sh WEIGH.EXE PLANTED.DLL SCALE_SIM WINE_RUN WINEPREFIX COM_NUMBER
#
# Whoever may add files to the station's folder must not get code into
# weigh.exe. This copies weigh.exe into a folder and plants PLANTED.DLL beside
# it under the names of the DLLs that a weighing with its "Eroare" box, the
# "weigh" report box, --check, --version, --list-ports and --help load (and
# under the names of the DLLs that Windows' own DLLs forward to or load
# later), a weigh.exe.manifest that sends COMCTL32 and the others to the
# folder, and a weigh.exe.local folder holding the same DLLs. Wine is told to
# prefer a DLL found there ("=n,b"), as Windows' own search order would for
# any DLL that is not a KnownDLL. A planted DLL that gets loaded leaves
# "<name>.dll.ran" beside itself. None may. Then the system DLLs are taken
# away ("=d"): the run behaves as when their calls fail.
#
# What Wine cannot show, and what stands in for it:
# - KnownDLLs. Windows takes KERNEL32 and msvcrt, weigh.exe's only imports,
#   from the system folder whatever lies beside the program; Wine has no such
#   rule for a DLL it was told to prefer, so those two are not planted here.
#   windows_imports_test.sh keeps the imports to them.
# - Forwarded exports. On Windows 7 and later ADVAPI32 forwards
#   SystemFunction036 to CRYPTBASE and the Crypt* functions to CRYPTSP, and
#   the loader would look for those beside the program; Wine's ADVAPI32 does
#   not forward there. By construction: nothing is imported from ADVAPI32,
#   and before a function is taken from a DLL, every DLL its export forwards
#   to is loaded from the system folder by its full path
#   (system_library_win32.cc, tested on Wine's own forwards in
#   system_library_win32_test.cc). cryptbase and cryptsp are planted anyway.
# - Windows XP's preference for an external manifest, and .local
#   redirection. Wine reads neither for this. By construction: COMCTL32 is
#   loaded by its full system-folder path under an activation context made
#   from weigh.exe's own manifest resource, so an external manifest can only
#   choose between the system's versions; a .local file is ignored by every
#   Windows for a program with a manifest (XP SP2 and later), and weigh.exe
#   has one. --check names both, which this test does see.
# - Windows XP and 7 without KB2533623, whose later bare-name loads by
#   system DLLs search the program's folder first: weigh.exe's own loads are
#   all by full path; UXTHEME, which COMCTL32 loads by name, is loaded from
#   the system folder first.
# Wine's own helpers that its built-in DLLs load at start (win32u, zlib1,
# imm32, msimg32) have no such load on Windows and are not planted: Wine
# would take them from the folder before main.
set -euo pipefail

weigh=$1 planted=$2 sim=$3 wine_run=$4 prefix=$5 com=$6
[ -x "$sim" ] || { echo "no scale simulator at $sim (build the native preset first)"; exit 1; }

# Loaded after main by a weighing, its box, --check or --version (under
# Wine, WINEDEBUG=+loaddll), WINMM, which weigh.exe once imported, and the
# DLLs that Windows' ADVAPI32, USER32 and COMCTL32 forward to or load by name.
names="winmm uxtheme comctl32 bcrypt crypt32 rsaenh oleaut32 dwmapi shell32 shlwapi setupapi \
cfgmgr32 msctf cryptbase cryptsp version profapi advapi32 user32 ole32"

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
mkdir weigh.exe.local
for name in $names; do
  cp "$planted" "$name.dll"
  cp "$planted" "weigh.exe.local/$name.dll"
done
# A manifest that sends every name above to the program's folder.
{
  echo '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
  echo '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">'
  echo '  <assemblyIdentity type="win32" name="weigh" version="1.0.0.0" processorArchitecture="X86"/>'
  for name in $names; do echo "  <file name=\"$name.dll\"/>"; done
  echo '</assembly>'
} >weigh.exe.manifest
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
  ran=$(ls ./*.ran weigh.exe.local/*.ran 2>/dev/null || true)
  [ -z "$ran" ] || fail "weigh.exe $* loaded a planted DLL: $(echo $ran)"
  # The override took: Wine would have loaded a planted DLL had it been asked.
  grep -aq 'Loaded L".*weigh.exe' "$scratch/trace" || fail "no trace of loaded DLLs"
  return $status
}

"$sim" --quiet stable:1.25 stable:1.25 stable:1.25 stable:1.25 >"$scratch/sim.out" 2>"$scratch/sim.err" &
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
run_weigh --help || fail "--help ended with status $?"
run_weigh --list-ports || fail "--list-ports ended with status $?"
rm -rf raspuns
status=0
run_weigh --check || status=$?
[ "$status" -eq 0 ] || fail "--check ended with status $status: $(tr -d '\r' <"$scratch/out" | tail -3)"
# --check names what was planted, and says that it does not belong there.
tr -d '\r' <"$scratch/out" | tr '\n' ' ' >"$scratch/check"
for planted_name in weigh.exe.manifest weigh.exe.local $names; do
  case $planted_name in weigh.exe.*) file=$planted_name ;; *) file=$planted_name.dll ;; esac
  grep -aq "station\\\\$file is a" "$scratch/check" || fail "--check did not name $file"
done
grep -aq "weigh does not load it; it does not belong there" "$scratch/check" ||
  fail "--check did not say that the planted files do not belong there"

# The report box (no standard output, no console to attach to): the report
# box's MessageBoxW and its COMCTL32.
if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
  "$wine_run" "$prefix" --boot
  (WINEPREFIX=$prefix WINEDEBUG=+loaddll WINEDLLOVERRIDES=$overrides \
    exec timeout 120 wine weigh.exe --version >&- 2>"$scratch/trace" </dev/null) &
  boxed=$!
  box=""
  for _ in $(seq 600); do
    box=$(xdotool search --name '^weigh$' 2>/dev/null | head -n1 || true)
    [ -n "$box" ] && break
    kill -0 "$boxed" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$box" ] || fail "no box titled weigh"
  sleep 0.3
  xdotool windowactivate --sync "$box" key Return 2>/dev/null ||
    xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
  wait "$boxed" || fail "--version in a box ended with status $?"
  ran=$(ls ./*.ran weigh.exe.local/*.ran 2>/dev/null || true)
  [ -z "$ran" ] || fail "the report box loaded a planted DLL: $(echo $ran)"
fi
echo "ok: no planted DLL was loaded ($(wc -w <<<"$names") names, a manifest, a .local folder)"

# A system DLL that cannot be loaded behaves as its calls failing: the value
# is still handed over, without a timer, common controls, COM or boxes.
rm -rf raspuns ./*.dll weigh.exe.local weigh.exe.manifest
"$wine_run" "$prefix" --boot
status=0
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winmm,uxtheme,comctl32,ole32,user32=d" \
  timeout 120 wine weigh.exe >"$scratch/out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "a weighing without its system DLLs ended with status $status"
grep -aq "1.25" raspuns/cant.txt || fail "a weighing without its system DLLs handed over $(cat raspuns/cant.txt)"
echo "ok: a weighing without WINMM, UXTHEME, COMCTL32, OLE32 and USER32 handed its value over"
