# The set-up that the end-to-end scripts share: their arguments, a scratch
# folder that is removed with whatever was started for the case, and the
# simulated scale. Source it after `set -euo pipefail` with the script's own
# arguments:
#
#   SCRIPT native WEIGH SCALE_SIM CASE
#   SCRIPT wine   WEIGH.EXE SCALE_SIM CASE WINE_RUN WINEPREFIX COM_NUMBER
#
# It leaves the shell in "$scratch/run", the case's station folder. The
# sourcing script defines fail MESSAGE, which reports and exits, and may set
# sim_options to what every start of the simulated scale gets (--quiet, say).

mode=$1 weigh=$2 sim=$3 case_name=$4
if [ "$mode" = wine ]; then
  wine_run=$5 prefix=$6 com=$7
fi
[ -x "$sim" ] || { echo "no scale simulator at $sim (build the native preset first)"; exit 1; }
sim_on_windows=no
case $sim in *.exe) sim_on_windows=yes ;; esac
sim_options=()

scratch=$(mktemp -d)
sim_pid="" relay_pid="" holder_pid=""
extra_pids=()
extra_dirs=()
# The COM port on the other end of a null-modem pair, once one is linked.
windows_scale_port=""
cleanup() {
  [ ${#extra_dirs[@]} -gt 0 ] && rm -rf "${extra_dirs[@]}"
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ ${#extra_pids[@]} -gt 0 ] && kill "${extra_pids[@]}" 2>/dev/null || true
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null || true
  if [ "$mode" = wine ]; then
    rm -f "$prefix/dosdevices/com$com"
    [ -z "$windows_scale_port" ] || rm -f "$prefix/dosdevices/com$windows_scale_port"
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/run"
cd "$scratch/run"

# Runs a Windows program under Wine in the background, its output going
# straight to the files given (wine-run would keep it until the end).
wine_in_background() {
  local out=$1 err=$2
  shift 2
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine "$@" \
    >"$out" 2>"$err" &
}

# Starts scale-sim.exe under Wine on one end of a new socat pair, on
# COM<COM_NUMBER + 200>, and points the program at the other end.
start_windows_scale() {
  "$wine_run" "$prefix" --boot
  socat pty,raw,echo=0,link="$scratch/line-a" pty,raw,echo=0,link="$scratch/line-b" &
  relay_pid=$!
  for _ in $(seq 100); do
    [ -e "$scratch/line-a" ] && [ -e "$scratch/line-b" ] && break
    sleep 0.05
  done
  windows_scale_port=$((com + 200))
  ln -sfn "$(readlink -f "$scratch/line-a")" "$prefix/dosdevices/com$com"
  ln -sfn "$(readlink -f "$scratch/line-b")" "$prefix/dosdevices/com$windows_scale_port"
  wine_in_background "$scratch/sim.out" "$scratch/sim.err" \
    "$sim" "${sim_options[@]}" --device "COM$windows_scale_port" "$@"
  sim_pid=$!
  for _ in $(seq 600); do
    [ -s "$scratch/sim.out" ] && break
    sleep 0.05
  done
  [ "$(head -n1 "$scratch/sim.out" | tr -d '\r')" = "COM$windows_scale_port" ] ||
    fail "scale-sim.exe did not start: $(cat "$scratch/sim.err")"
  printf 'COM%s\r\n' "$com" >Kavrin.inf
}

# Starts the simulated scale with the given script and points the program
# at it: "Kavrin.inf" names its pseudo-terminal ($device), or under Wine the
# COM port linked to it.
start_scale() {
  if [ "$sim_on_windows" = yes ]; then
    start_windows_scale "$@"
    return
  fi
  "$sim" "${sim_options[@]}" "$@" >"$scratch/sim.out" 2>"$scratch/sim.err" &
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
