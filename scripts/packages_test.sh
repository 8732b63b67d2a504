#!/usr/bin/env bash
# How the scripts install Debian packages while the mirror serves a damaged
# index. Everything happens in a scratch folder: a small apt repository made
# here (file: URIs, no network), a private apt configuration (APT_CONFIG) and
# a private package database (DPKG_ADMINDIR). apt only downloads into the
# scratch folder; nothing is installed on the machine.
#
# The repository is shaped like Debian's main and security suites on a day
# when the security suite's i386 index does not match its Release file: a
# multi-arch library is newer in the security suite, and so is an amd64
# program that needs the newer library. The package lists were read once
# while the machine had only amd64, as on a fresh machine before i386 is
# added, so apt keeps the security suite's old amd64 index and has no i386
# one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
chmod 755 "$scratch"
trap 'rm -rf "$scratch"' EXIT

# shellcheck source=scripts/test_harness.sh
. "$here/test_harness.sh"

repo=$scratch/repo
# package NAME VERSION ARCHITECTURE MULTI-ARCH DEPENDS: a .deb in the pool.
package() {
  local root=$scratch/build/$1_$2_$3
  mkdir -p "$root/DEBIAN" "$repo/pool"
  {
    echo "Package: $1"
    echo "Version: $2"
    echo "Architecture: $3"
    echo "Maintainer: Test <test@example.invalid>"
    [ -z "$4" ] || echo "Multi-Arch: $4"
    [ -z "$5" ] || echo "Depends: $5"
    echo "Description: test package $1"
  } >"$root/DEBIAN/control"
  dpkg-deb --root-owner-group --build "$root" "$repo/pool/" >/dev/null
}
# index SUITE ARCHITECTURE DEB...: that suite's Packages for the architecture.
index() {
  local suite=$1 arch=$2 deb
  shift 2
  mkdir -p "$repo/dists/$suite/main/binary-$arch"
  for deb in "$@"; do
    dpkg-deb -f "$repo/pool/$deb"
    echo "Filename: pool/$deb"
    echo "Size: $(stat -c %s "$repo/pool/$deb")"
    echo "SHA256: $(sha256sum "$repo/pool/$deb" | cut -d' ' -f1)"
    echo
  done >"$repo/dists/$suite/main/binary-$arch/Packages"
}
# release SUITE: its Release file, with the size and digest of each index.
release() {
  local file
  (
    cd "$repo/dists/$1"
    echo "Suite: $1"
    echo "Codename: $1"
    echo "Architectures: amd64 i386"
    echo "Components: main"
    echo "Date: $(date -Ru)"
    echo "SHA256:"
    for file in main/binary-*/Packages; do
      echo " $(sha256sum "$file" | cut -d' ' -f1) $(stat -c %s "$file") $file"
    done
  ) >"$scratch/Release"
  mv "$scratch/Release" "$repo/dists/$1/Release"
}

package libdemo1 1.0 amd64 same ""
package libdemo1 1.0 i386 same ""
package libdemo1 1.1 amd64 same ""
package libdemo1 1.1 i386 same ""
package demo-tool 1.0 amd64 "" "libdemo1"
package demo-tool 1.1 amd64 "" "libdemo1 (>= 1.1)"
package demo-tool32 1.0 i386 "" "libdemo1"
index stable amd64 libdemo1_1.0_amd64.deb demo-tool_1.0_amd64.deb
index stable i386 libdemo1_1.0_i386.deb demo-tool32_1.0_i386.deb
index stable-security amd64 libdemo1_1.1_amd64.deb demo-tool_1.1_amd64.deb
index stable-security i386 libdemo1_1.1_i386.deb
release stable
release stable-security

# An apt-get that counts its calls, in front of the real one.
mkdir -p "$scratch/bin"
cat >"$scratch/bin/apt-get" <<EOF
#!/bin/sh
echo "\$*" >>"$scratch/apt-get-calls"
exec /usr/bin/apt-get "\$@"
EOF
chmod 755 "$scratch/bin/apt-get"
export PATH=$scratch/bin:$PATH

# machine NAME: a fresh private machine (configuration, lists, cache and
# package database) whose lists were read with amd64 alone; the installed
# libdemo1:amd64 has the version given as $2.
machine() {
  local m=$scratch/$1
  mkdir -p "$m/lists/partial" "$m/cache/archives/partial" "$m/dpkg/updates" "$m/dpkg/info" "$m/preferences.d"
  printf 'deb [trusted=yes] file:%s stable main\ndeb [trusted=yes] file:%s stable-security main\n' \
    "$repo" "$repo" >"$m/sources.list"
  {
    echo "Package: libdemo1"
    echo "Status: install ok installed"
    echo "Architecture: amd64"
    echo "Multi-Arch: same"
    echo "Version: $2"
    echo "Maintainer: Test <test@example.invalid>"
    echo "Description: test package libdemo1"
    echo
  } >"$m/dpkg/status"
  : >"$m/dpkg/arch"
  cat >"$m/apt.conf" <<EOF
Dir::Etc::sourcelist "$m/sources.list";
Dir::Etc::sourceparts "-";
Dir::Etc::Preferences "$m/preferences";
Dir::Etc::PreferencesParts "$m/preferences.d";
Dir::State::Lists "$m/lists";
Dir::State::status "$m/dpkg/status";
Dir::Cache "$m/cache";
APT::Sandbox::User "root";
APT::Get::Download-Only "true";
EOF
  APT_CONFIG=$m/apt.conf DPKG_ADMINDIR=$m/dpkg /usr/bin/apt-get -q update >"$m/first-update.txt" 2>&1 ||
    fail "$1: the first reading of the lists failed: $(tail -n1 "$m/first-update.txt")"
}

# install_on NAME RUN PACKAGE...: the scripts' install step on that machine,
# in a subshell as a script would run it; its output goes to RUN.txt.
install_on() {
  local m=$scratch/$1 run=$2
  shift 2
  : >"$scratch/apt-get-calls"
  (
    export APT_CONFIG=$m/apt.conf DPKG_ADMINDIR=$m/dpkg
    # shellcheck source=scripts/packages.sh
    . "$here/packages.sh"
    apt_update_tries=2
    apt_update_pause=0
    ensure_packages "$@"
  ) >"$scratch/$run.txt" 2>&1
  local status=$?
  mv "$scratch/apt-get-calls" "$scratch/$run.calls"
  return $status
}
said() { grep -q -- "$2" "$scratch/$1.txt"; }
# fetched RUN SUITE ARCHITECTURE PACKAGE VERSION: apt fetched that package
# (file: URIs are used where they are, not copied into the cache).
fetched() { said "$1" "^Get:[0-9]* file:$repo $2/main $3 $4 $3 $5 "; }
# calls RUN PATTERN COUNT: the run called apt-get COUNT times so.
calls() { [ "$(grep -c -- "$2" "$scratch/$1.calls" || true)" -eq "$3" ]; }

# The security suite's i386 index is damaged from now on: one package longer
# than its Release file says.
machine fresh 1.0
machine updated 1.1
printf 'Package: demo-extra\n' >>"$repo/dists/stable-security/main/binary-i386/Packages"

# A fresh machine: the versions that both architectures have, after saying
# which index failed and how the install went on.
if install_on fresh pinned demo-tool demo-tool32:i386; then
  echo "ok: the install step got past the damaged index"
else
  fail "the install step failed: $(cat "$scratch/pinned.txt")"
fi
check "the update was tried again, then given up on with the failed index named" \
  calls pinned '^update' 2
check "it says which index it could not read" \
  said pinned 'could not read .*stable-security/main i386 Packages'
check "it says in one line that the failed suite was ranked lower for this install" \
  said pinned 'installing with stable-security ranked below the other suites for this install'
check "the i386 program comes from the suite with both architectures" \
  fetched pinned stable i386 demo-tool32 1.0
check "the i386 library has the version of the installed amd64 one" \
  fetched pinned stable i386 libdemo1 1.0
check "the amd64 program is the one that the library's version serves" \
  fetched pinned stable amd64 demo-tool 1.0
check "nothing from the half-read suite was taken" \
  bash -c "! grep -q '^Get:.*stable-security' '$scratch/pinned.txt'"
check "the machine's preferences were left alone" \
  test ! -e "$scratch/fresh/preferences"
check "i386 was added to the private package database only" \
  grep -qx i386 "$scratch/fresh/dpkg/arch"

# A machine whose amd64 library already has the security version: no i386
# twin can be had, and ranking cannot help. One line names the failed index
# and what to do, instead of apt's resolver dump.
if install_on updated stuck demo-tool32:i386; then
  fail "the install step succeeded where no consistent versions exist"
else
  echo "ok: the install step failed where no consistent versions exist"
fi
check "the failure names the failed index and what to do" \
  said stuck 'cannot install demo-tool32:i386 without .*stable-security/main i386 Packages.*run the script again later'
check "apt's resolver dump is not shown" \
  bash -c "! grep -q -e 'Unable to correct problems' -e 'Depends:' '$scratch/stuck.txt'"
check "nothing was fetched" bash -c "! grep -q '^Get:.* demo' '$scratch/stuck.txt'"

# A machine that has the packages installs nothing and asks no mirror.
install_on fresh nothing libdemo1 || fail "the install step failed with nothing to install"
check "with everything installed, apt-get is not called" calls nothing '' 0

finish_test
