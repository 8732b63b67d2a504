#!/usr/bin/env bash
# The Debian package as an integrator gets it: lintian, its files and
# control fields, the same files from `cmake --install`, and then installed
# with dpkg into a throw-away Debian root, run from /usr/bin against the
# simulated scale there, purged, and the root checked for leftovers.
#
#   deb_test.sh DEB NATIVE_BUILD CACHE
#
# NATIVE_BUILD is the build the package was made from. CACHE is a folder
# that keeps a minimal Debian 12 root (made with debootstrap, about two
# minutes) between runs; each run works on a fresh copy of it. Needs root.
set -euo pipefail
deb=$(realpath "$1") build=$(realpath "$2") cache=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
# shellcheck source=packaging/common.sh
. "$here/common.sh"

version=$(project_version)
arch=$(dpkg --print-architecture)
scratch=$(mktemp -d)
root=$scratch/root
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  # Unmount before removing anything, and never remove across a mount.
  if mountpoint -q "$root/dev/pts" 2>/dev/null; then umount "$root/dev/pts" || true; fi
  if mountpoint -q "$root/proc" 2>/dev/null; then umount "$root/proc" || true; fi
  if grep -qF " $scratch/" /proc/mounts; then
    echo "deb_test: still mounted under $scratch, left in place"
  else
    rm -rf --one-file-system "$scratch"
  fi
}
trap cleanup EXIT

check "the package is named for version $version" [ "$(basename "$deb")" = "weigh_${version}_$arch.deb" ]

# --- lintian ------------------------------------------------------------------
# Errors fail the test; warnings are shown.
lintian_status=0
lintian --fail-on error --pedantic "$deb" >"$scratch/lintian" 2>&1 || lintian_status=$?
grep -v 'root privileges' "$scratch/lintian" || true
check "lintian reports no error" [ "$lintian_status" -eq 0 ]

# --- Control fields -----------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
check "Version is $version" [ "$(field Version)" = "$version" ]
check "Architecture is $arch" [ "$(field Architecture)" = "$arch" ]
check "Depends on the C library" grep -Eq '(^|, )libc6( |,|$)' <<<"$(field Depends)"
check "Depends on libgcrypt, for the program's SHA-256" grep -Eq '(^|, )libgcrypt20( |,|$)' <<<"$(field Depends)"
check "Recommends GTK 3" grep -Eq '(^|, )libgtk-3-0( |,|$)' <<<"$(field Recommends)"
check "does not depend on GTK" bash -c '! grep -q gtk <<<"$1"' _ "$(field Depends)"
check "a description of more than one line" [ "$(field Description | wc -l)" -gt 1 ]

# --- Files ----------------------------------------------------------------------
expected_files="./usr/bin/scale-sim
./usr/bin/weigh
./usr/share/doc/weigh/README.md
./usr/share/doc/weigh/changelog.gz
./usr/share/doc/weigh/copyright
./usr/share/doc/weigh/integrating.md
./usr/share/doc/weigh/operating.md
./usr/share/man/man1/scale-sim.1.gz
./usr/share/man/man1/weigh.1.gz"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
check "the package holds exactly the programs, manual pages and documents" \
  [ "$files" = "$expected_files" ]
mkdir "$scratch/contents"
dpkg-deb -x "$deb" "$scratch/contents"
check "no file mentions the build tree" no_build_paths "$top" -r "$scratch/contents"
for program in "$scratch"/contents/usr/bin/*; do
  check "$(basename "$program") is stripped" bash -c "file '$program' | grep -q ', stripped'"
done
for page in "$scratch"/contents/usr/share/man/man1/*; do
  check "$(basename "$page") renders without warnings" \
    bash -c "[ -z \"\$(MANWIDTH=80 man --warnings -l '$page' 2>&1 >/dev/null)\" ]"
  check "$(basename "$page") names version $version" \
    bash -c "zcat '$page' | head -1 | grep -qF 'weigh $version'"
done

# `cmake --install` puts the same files in place for people who build.
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
installed=$(cd "$scratch/prefix" && find . -type f | sed 's|^\./|./usr/|' | sort)
check "cmake --install installs the same files" [ "$installed" = "$expected_files" ]

# --- Installed into a Debian root, run, and removed -------------------------------
if [ ! -d "$cache/bookworm" ]; then
  echo "Making a minimal Debian 12 root in $cache (once)"
  # From the archive the machine's apt uses, which names it; without one,
  # one line and the end of the test.
  # shellcheck source=scripts/apt_sources.sh
  . "$top/scripts/apt_sources.sh"
  require_debian_archive bookworm "a minimal Debian 12 root (debootstrap)"
  rm -rf --one-file-system "$cache/bookworm.new"
  mkdir -p "$cache"
  debootstrap --variant=minbase bookworm "$cache/bookworm.new" "$debian_archive" \
    >"$cache/debootstrap.log" 2>&1 || { tail -20 "$cache/debootstrap.log"; exit 1; }
  rm -f "$cache"/bookworm.new/var/cache/apt/archives/*.deb
  mv "$cache/bookworm.new" "$cache/bookworm"
fi
cp -a "$cache/bookworm" "$root"
# A pseudo-terminal for the simulated scale: a devpts of the root's own.
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
in_root() { chroot "$root" "$@"; }

# What the root holds, but for dpkg's own records of what it did.
snapshot() {
  (cd "$root" && find . -xdev \
    \( -path ./dev -o -path ./proc -o -path ./sys -o -path ./tmp -o -path ./run -o -path ./station \
       -o -path ./var/log -o -path ./var/cache/debconf -o -path ./var/lib/dpkg/triggers \) -prune \
    -o ! -path './var/lib/dpkg/status*' ! -path './var/lib/dpkg/lock*' -printf '%M %u %p\n' | sort)
}
snapshot >"$scratch/before"

cp "$deb" "$root/tmp/"
check "dpkg -i installs the package" in_root dpkg -i "/tmp/$(basename "$deb")"
check "dpkg records the package as installed" \
  bash -c "chroot '$root' dpkg-query -W -f='\${Status} \${Version}' weigh | grep -qx 'install ok installed $version'"

mkdir "$root/station"

# The installed program names itself: the SHA-256 that sha256sum gives for
# /usr/bin/weigh, with the library a minimal Debian root has.
mount -t proc proc "$root/proc"
in_root /usr/bin/weigh --version >"$scratch/version" 2>&1 || true
sed 's/^/  /' "$scratch/version"
check "weigh --version shows the SHA-256 of /usr/bin/weigh" \
  grep -qx "SHA-256: $(sha256sum "$root/usr/bin/weigh" | cut -d' ' -f1)" "$scratch/version"
umount "$root/proc"
run_weigh() { in_root /bin/sh -c 'cd /station && exec /usr/bin/weigh' 2>"$scratch/stderr"; }

# The first run writes Kavrin.inf with COM1 (no such port here) and hands
# over an empty line.
check "first run exits 0" run_weigh
check "first run writes Kavrin.inf holding COM1" same_bytes "$root/station/Kavrin.inf" 'COM1\r\n'
check "first run hands over an empty line" same_bytes "$root/station/raspuns/cant.txt" '\r\n'
rm -f "$root/station/raspuns/cant.txt"

# The installed simulator plays the scale: 12.50 kg, after an unstable reading.
chroot "$root" /usr/bin/scale-sim --quiet unstable:12.40 stable:12.50 >"$scratch/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do
  [ -s "$scratch/sim.out" ] && break
  sleep 0.05
done
printf '%s\r\n' "$(head -n1 "$scratch/sim.out")" >"$root/station/Kavrin.inf"
check "scale-sim runs from /usr/bin" grep -q '^/dev/pts/' "$scratch/sim.out"
check "a weighing exits 0" run_weigh
check "the weighing hands over STX 12.50" same_bytes "$root/station/raspuns/cant.txt" '\00212.50\r\n'
# The value is still waiting: the next run refuses to replace it, and with
# neither GTK nor a display the message goes to standard error.
check "a run while the value waits exits 0" run_weigh
check "it shows the message Eroare on standard error" grep -qx Eroare "$scratch/stderr"
check "the waiting value is left as it was" same_bytes "$root/station/raspuns/cant.txt" '\00212.50\r\n'
check "log.txt holds a line for each run" \
  [ "$(tr -d '\r' <"$root/station/log.txt" | LC_ALL=C grep -Ec '^[0-9/]{10} - [0-9:]{8} -  / ')" -eq 3 ]
kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
sim=""

check "dpkg --purge removes the package" in_root dpkg --purge weigh
check "dpkg no longer knows the package" bash -c "! chroot '$root' dpkg-query -W weigh 2>/dev/null"
snapshot >"$scratch/after"
check "nothing of the package is left in the root" cmp -s "$scratch/before" "$scratch/after" ||
  diff "$scratch/before" "$scratch/after" | head -20

finish_test
