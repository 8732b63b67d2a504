#!/bin/bash
# The handoff on a file system that keeps no hard links and knows no
# RENAME_NOREPLACE (no-link-fs, a FUSE passthrough): a consumer polls
# raspuns/cant.txt and takes every value while runs of the program, two at a
# time, weigh and hand over, until at least MIN_HANDED values were handed
# over. The two runs of a pair start together in two station folders, each
# with a scale of its own, whose raspuns are links to one folder: their
# handoffs meet there at the same moment. No value taken may be empty or partial, none may be taken twice, and
# every value handed over must be taken: a value replaced while it waited
# would never be.
#
#   no_hard_links_test.sh WEIGH SCALE_SIM NO_LINK_FS
#
# WEIGH_RUNS: how many runs at most (default 400: a loaded machine's consumer is
# slow, and more runs then find a value still waiting); MIN_HANDED (default 100).
# Exits 77 (skipped) where /dev/fuse or fusermount3 is not available.
set -euo pipefail

weigh=$1 sim=$2 fs=$3
runs=${WEIGH_RUNS:-400} min_handed=${MIN_HANDED:-100}
if [ ! -c /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
  echo "SKIP: no /dev/fuse or no fusermount3 here"
  exit 77
fi

scratch=$(mktemp -d)
fs_pid="" consumer_pid=""
sim_pid=()
cleanup() {
  [ -n "$consumer_pid" ] && kill "$consumer_pid" 2>/dev/null || true
  [ ${#sim_pid[@]} -gt 0 ] && kill "${sim_pid[@]}" 2>/dev/null || true
  cd /
  mountpoint -q "$scratch/run" 2>/dev/null && fusermount3 -u "$scratch/run" 2>/dev/null || true
  [ -n "$fs_pid" ] && kill "$fs_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

mkdir "$scratch/back" "$scratch/run" "$scratch/taken"
"$fs" "$scratch/back" "$scratch/run" 2>"$scratch/fs.err" &
fs_pid=$!
for _ in $(seq 100); do
  mountpoint -q "$scratch/run" && break
  sleep 0.05
done
if ! mountpoint -q "$scratch/run"; then
  # A container may have /dev/fuse without the right to mount.
  echo "SKIP: no-link-fs could not mount: $(head -3 "$scratch/fs.err")"
  exit 77
fi
cd "$scratch/run"
# The file system refuses what the program must do without.
: >probe
! ln probe probe.link 2>/dev/null || fail "the file system made a hard link"
rm probe

weight() { printf '%d.%02d' $(($1 / 100)) $(($1 % 100)); }
# One scale per station folder, weights 10.01... in "a" and 20.01... in "b".
mkdir raspuns
for side in a b; do
  base=1000
  [ "$side" = b ] && base=2000
  script=()
  for i in $(seq "$runs"); do script+=("stable:$(weight $((base + i)))"); done
  "$sim" --quiet "${script[@]}" >"$scratch/sim.$side" 2>"$scratch/sim.err" &
  sim_pid+=($!)
  for _ in $(seq 100); do
    [ -s "$scratch/sim.$side" ] && break
    sleep 0.05
  done
  device=$(head -n1 "$scratch/sim.$side")
  [ -n "$device" ] || fail "the simulated scale did not start: $(cat "$scratch/sim.err")"
  mkdir "$side"
  printf '%s\r\n' "$device" >"$side/Kavrin.inf"
  ln -s ../raspuns "$side/raspuns"
done

# Takes every value as soon as it is seen, keeping what it read.
(
  n=0
  while [ ! -e "$scratch/stop" ]; do
    if [ -e raspuns/cant.txt ]; then
      n=$((n + 1))
      cat raspuns/cant.txt >"$scratch/taken/$n" 2>/dev/null || true
      rm -f raspuns/cant.txt
    fi
  done
) &
consumer_pid=$!

# Without a display, a message goes to standard error.
unset DISPLAY
handed=0 refused=0 done_runs=0
while [ "$handed" -lt "$min_handed" ] && [ "$done_runs" -lt "$runs" ]; do
  (cd a && exec timeout 60 "$weigh" 2>"$scratch/err.a") &
  first=$!
  (cd b && exec timeout 60 "$weigh" 2>"$scratch/err.b") &
  second=$!
  wait "$first" || fail "a run ended with status $?"
  wait "$second" || fail "a run ended with status $?"
  done_runs=$((done_runs + 2))
  for err in "$scratch/err.a" "$scratch/err.b"; do
    if grep -q '^Eroare$' "$err"; then
      # The other run's value was waiting: the conflict message, or, where
      # the consumer took that value before it could be shown, the message
      # that the file cannot be written. Either names the value kept out.
      refused=$((refused + 1))
    else
      handed=$((handed + 1))
    fi
  done
done
touch "$scratch/stop"
wait "$consumer_pid" || true
consumer_pid=""
[ -e raspuns/cant.txt ] && cp raspuns/cant.txt "$scratch/taken/last"

declare -A taken
for file in "$scratch"/taken/*; do
  [ -e "$file" ] || continue
  value=$(LC_ALL=C sed -n 'l 0' "$file")
  [[ $value =~ ^\\002\ *([0-9]+\.[0-9]{2})\\r\$$ ]] || fail "a value taken was not whole: '$value'"
  value=${BASH_REMATCH[1]}
  [ -z "${taken[$value]:-}" ] || fail "$value was taken twice"
  taken[$value]=1
done
[ "$handed" -ge "$min_handed" ] || fail "only $handed values were handed over in $done_runs runs"
[ "${#taken[@]}" -eq "$handed" ] ||
  fail "$handed values were handed over but ${#taken[@]} taken: a waiting value was replaced"
[ -z "$(ls raspuns)" ] || fail "left in raspuns: $(ls raspuns)"
echo "runs=$done_runs handed_over=$handed refused=$refused taken=${#taken[@]}"
