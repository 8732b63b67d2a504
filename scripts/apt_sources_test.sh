#!/usr/bin/env bash
# How the scripts find the Debian archive in the machine's apt sources:
# sample sources in both formats, read through a private apt configuration
# (APT_CONFIG) in a scratch folder. The machine's own sources are only read
# by apt-config's defaults, never here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# shellcheck source=scripts/test_harness.sh
. "$here/test_harness.sh"
# shellcheck source=scripts/apt_sources.sh
. "$here/apt_sources.sh"

native=$(dpkg --print-architecture)
foreign=i386
[ "$native" = i386 ] && foreign=arm64

# machine: a new empty set of sources, in apt's places under the scratch
# folder; the files are written into "$etc" by each case.
machine() {
  etc=$scratch/etc.$1
  mkdir -p "$etc/sources.list.d"
  printf 'Dir::Etc::sourcelist "%s";\nDir::Etc::sourceparts "%s";\n' \
    "$etc/sources.list" "$etc/sources.list.d" >"$etc/apt.conf"
}
# found_for SUITE EXPECTED: the lookup prints EXPECTED ("URI FILE") for SUITE.
found_for() {
  local got
  got=$(APT_CONFIG=$etc/apt.conf debian_archive_lookup "$1") || got="(none)"
  [ "$got" = "$2" ] || { echo "  found \"$got\", expected \"$2\""; return 1; }
}

# --- deb822 (*.sources) -----------------------------------------------------
machine default
cat >"$etc/sources.list.d/debian.sources" <<'EOF'
Types: deb
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://mirror.example/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
check "a Debian 12 image's debian.sources: the main archive" \
  found_for bookworm "http://mirror.example/debian $etc/sources.list.d/debian.sources"
check "... and its security suite only when asked for by name" \
  found_for bookworm-security "http://mirror.example/debian-security $etc/sources.list.d/debian.sources"
check "... and nothing for a suite it does not list" found_for trixie "(none)"

machine skipped
cat >"$etc/sources.list.d/company.sources" <<EOF
# Sources of a company network.
Types: deb
URIs: http://off.example/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb-src
URIs: http://source.example/debian
Suites: bookworm
Components: main

Types: deb
URIs: http://security.example/debian-security
Suites: bookworm-security
Components: main

Types: deb
URIs: http://other-arch.example/debian
Suites: bookworm
Architectures: $foreign
Components: main

Types: deb
Suites: bookworm
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 Suites: trixie
 URIs: http://in-the-key.example/debian
 -----END PGP PUBLIC KEY BLOCK-----
# A comment inside a stanza does not end it.
URIs: cdrom:[Debian 12]/ http://first.example/debian/ http://second.example/debian
Architectures: $foreign $native
Components: main
EOF
check "deb822: a disabled stanza, deb-src, the security suite and another architecture are passed over" \
  found_for bookworm "http://first.example/debian $etc/sources.list.d/company.sources"
check "... nothing is read out of a key block" found_for trixie "(none)"

# --- One-line (sources.list, *.list) ------------------------------------------
machine one_line
cat >"$etc/sources.list" <<EOF
# deb http://commented.example/debian bookworm main
deb-src http://source.example/debian bookworm main
deb http://security.example/debian-security bookworm-security main
deb http://security.example/ bookworm/updates main
deb [arch=$foreign] http://other-arch.example/debian bookworm main
deb [ enabled=no ] http://off.example/debian bookworm main
deb cdrom:[Debian 12]/ bookworm main
deb [ arch=$foreign,$native signed-by=/usr/share/keyrings/debian-archive-keyring.gpg ] http://mirror.example/debian/ bookworm main # the mirror
deb http://later.example/debian bookworm main
EOF
check "one-line: comments, deb-src, security suites, another architecture, disabled and cdrom entries are passed over" \
  found_for bookworm "http://mirror.example/debian $etc/sources.list"
check "... and a security suite is found only by its name" \
  found_for bookworm-security "http://security.example/debian-security $etc/sources.list"

# --- Which file: sources.list first, then the parts by name ---------------------
machine order
echo 'deb http://security.example/debian-security bookworm-security main' >"$etc/sources.list"
echo 'deb http://disabled-file.example/debian bookworm main' >"$etc/sources.list.d/a.list.disabled"
echo 'deb http://b.example/debian bookworm main' >"$etc/sources.list.d/b.list"
printf 'Types: deb\nURIs: http://c.example/debian\nSuites: bookworm\nComponents: main\n' \
  >"$etc/sources.list.d/c.sources"
check "the parts in apt's order; files of other endings are not read" \
  found_for bookworm "http://b.example/debian $etc/sources.list.d/b.list"
rm "$etc/sources.list.d/b.list"
check "a .sources file after the .list ones" \
  found_for bookworm "http://c.example/debian $etc/sources.list.d/c.sources"
echo 'deb file:/srv/debian bookworm main' >>"$etc/sources.list"
check "sources.list before the parts; a file: URI counts" \
  found_for bookworm "file:/srv/debian $etc/sources.list"

# --- What the scripts say ---------------------------------------------------------
# require_debian_archive names the archive it uses, or stops with one line.
machine none
printf 'Types: deb\nURIs: http://security.example/debian-security\nSuites: bookworm-security\n' \
  >"$etc/sources.list.d/debian.sources"
status=0
(APT_CONFIG=$etc/apt.conf require_debian_archive bookworm "a minimal Debian root") \
  >"$scratch/out" 2>"$scratch/err" || status=$?
check "without a source for the suite: exit 1" [ "$status" -eq 1 ]
check "... with one line that says so" \
  bash -c '[ "$(wc -l <"$1")" -eq 1 ] && grep -q "no enabled \"deb\" source for bookworm" "$1"' _ "$scratch/err"
machine found
echo 'deb http://mirror.example/debian bookworm main' >"$etc/sources.list"
APT_CONFIG=$etc/apt.conf require_debian_archive bookworm "a minimal Debian root" 2>"$scratch/err"
check "with one: debian_archive is set" [ "$debian_archive" = http://mirror.example/debian ]
check "... and one line names it and its file" \
  grep -qx "$(basename "$0"): a minimal Debian root from http://mirror.example/debian (the machine's apt sources, $etc/sources.list)" "$scratch/err"

finish_test
