#!/usr/bin/env bash
# How the scripts tell whether 32-bit programs run natively or through an
# interpreter, and how they set up qemu-user where the kernel refuses them.
# Everything happens in a scratch folder: binfmt_misc is a folder there that
# this test plays the kernel for, and the package download is replaced by a
# package made here. The machine's own registrations are never touched.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# shellcheck source=scripts/test_harness.sh
. "$here/test_harness.sh"

# The first bytes of ELF headers, as od prints them: a 32-bit x86 program
# linked as a position-independent executable and as a fixed one, and a
# 64-bit x86 one.
i386_pie=7f454c46010101000000000000000000030003000100000000000000
i386_exec=7f454c46010101030000000000000000020003000100000000000000
x86_64=7f454c4602010100000000000000000003003e000100000000000000
# write_header FILE HEX: a file that starts with those bytes.
write_header() {
  local hex=$2 out="" i
  for ((i = 0; i < ${#hex}; i += 2)); do out+="\\x${hex:i:2}"; done
  printf "$out" >"$1"
  head -c 200 /dev/zero >>"$1"
}

# An interpreter that answers --version as Debian's qemu-user 10.0.2 does.
qemu_version_line='qemu-i386 version 10.0.2 (Debian 1:10.0.2+ds-2+deb13u1~bpo12+1)'
fake_qemu() {
  printf '#!/bin/sh\necho "%s"\necho "Copyright (c) 2003-2025"\n' "$1" >"$2"
  chmod 755 "$2"
}
fake_qemu "$qemu_version_line" "$scratch/qemu-i386"
printf '#!/bin/sh\necho "box86 v0.3"\n' >"$scratch/other-interpreter"
chmod 755 "$scratch/other-interpreter"

# entry FILE STATE INTERPRETER OFFSET MAGIC [MASK]: a registration as the
# kernel shows it.
entry() {
  {
    echo "$2"
    echo "interpreter $3"
    echo "flags: F"
    echo "offset $4"
    echo "magic $5"
    [ -z "${6:-}" ] || echo "mask $6"
  } >"$1"
}
i386_magic=7f454c4601010100000000000000000002000300
i386_mask=fffffffffffefefcfffffffffffffffffeffffff

# new_machine: a fresh binfmt_misc folder, qemu folder and probe program.
new_machine() {
  rm -rf "$scratch/machine"
  mkdir -p "$scratch/machine/binfmt"
  echo enabled >"$scratch/machine/binfmt/status"
  : >"$scratch/machine/binfmt/register"
  binfmt_dir=$scratch/machine/binfmt
  qemu_user_dir=$scratch/machine/opt/qemu-user-10
  i386_probe=$scratch/machine/wineserver32
  write_header "$i386_probe" "$i386_pie"
}

# shellcheck source=scripts/programs_32bit.sh
. "$here/programs_32bit.sh"

# --- Telling how 32-bit programs run --------------------------------------------
how_with() {
  new_machine
  [ -z "${1:-}" ] || write_header "$i386_probe" "$1"
  shift
  local n=0
  while [ $# -gt 0 ]; do
    n=$((n + 1))
    entry "$binfmt_dir/entry$n" "$@"
    shift 5
    [ "${1:-}" != -- ] || shift
  done
  how_32bit_programs_run
}
check "a qemu-user registration takes a position-independent 32-bit program" \
  [ "$(how_with "$i386_pie" enabled "$scratch/qemu-i386" 0 $i386_magic $i386_mask)" = \
    "through qemu-user 10.0.2" ]
check "it takes a fixed-address 32-bit program of another OS ABI too" \
  [ "$(how_with "$i386_exec" enabled "$scratch/qemu-i386" 0 $i386_magic $i386_mask)" = \
    "through qemu-user 10.0.2" ]
check "without a mask, the magic must match exactly: a PIE runs natively" \
  [ "$(how_with "$i386_pie" enabled "$scratch/qemu-i386" 0 $i386_magic "")" = natively ]
check "a 64-bit program is not taken by the 32-bit registration" \
  [ "$(how_with "$x86_64" enabled "$scratch/qemu-i386" 0 $i386_magic $i386_mask)" = natively ]
check "a disabled registration takes nothing" \
  [ "$(how_with "$i386_pie" disabled "$scratch/qemu-i386" 0 $i386_magic $i386_mask)" = natively ]
check "the offset counts: the machine field alone, 16 bytes in" \
  [ "$(how_with "$i386_pie" enabled "$scratch/qemu-i386" 18 0300 ffff)" = "through qemu-user 10.0.2" ]
check "the offset counts: a magic that matches only at another place does not" \
  [ "$(how_with "$i386_pie" enabled "$scratch/qemu-i386" 17 0300 ffff)" = natively ]
check "an ARM registration next to a 32-bit x86 one: the x86 one is found" \
  [ "$(how_with "$i386_pie" enabled "$scratch/other-interpreter" 0 7f454c4601010100000000000000000002002800 \
         $i386_mask -- enabled "$scratch/qemu-i386" 0 $i386_magic $i386_mask)" = "through qemu-user 10.0.2" ]
check "an interpreter that is no qemu-user is named by its path" \
  [ "$(how_with "$i386_pie" enabled "$scratch/other-interpreter" 0 $i386_magic $i386_mask)" = \
    "through $scratch/other-interpreter" ]
new_machine
entry "$binfmt_dir/qemu-i386" enabled "$scratch/qemu-i386" 0 $i386_magic $i386_mask
echo disabled >"$binfmt_dir/status"
check "binfmt_misc switched off as a whole takes nothing" [ "$(how_32bit_programs_run)" = natively ]

# --- Setting up qemu-user ------------------------------------------------------------
# The kernel, as far as this test needs it: a line written to "register"
# becomes an entry, and the probe program runs when a registration takes it
# and its interpreter answers.
apply_registrations() {
  local line name type offset magic mask interpreter flags
  while IFS= read -r line || [ -n "$line" ]; do
    [ -n "$line" ] || continue
    IFS=: read -r _ name type offset magic mask interpreter flags <<<"$line"
    [ "$type" = M ] || continue
    [ ! -e "$binfmt_dir/$name" ] || continue
    entry "$binfmt_dir/$name" enabled "$interpreter" "${offset:-0}" \
      "$(printf '%b' "$magic" | od -An -v -tx1 | tr -d ' \n')" \
      "$(printf '%b' "$mask" | od -An -v -tx1 | tr -d ' \n')"
    echo "flags: $flags" >>"$binfmt_dir/$name"
  done <"$binfmt_dir/register"
}
probe_runs() {
  [ -n "${refuse_all:-}" ] && return 1
  [ -n "${runs_natively:-}" ] && return 0
  apply_registrations
  local interpreter
  interpreter=$(i386_interpreter) && [ -x "$interpreter" ] && "$interpreter" --version >/dev/null
}
# Root, as the set-up needs (the test itself need not be).
uid=0
id() { [ "${1:-}" = -u ] && echo "$uid" || command id "$@"; }
# The download: a package like Debian's, holding a qemu-i386 of the given
# version line ($package_qemu_line; none at all when it is empty).
fetches=0
fetch_qemu_user() {
  fetches=$((fetches + 1))
  echo $fetches >"$scratch/fetches"
  [ -z "${fetch_fails:-}" ] || setup_failure "qemu-user $qemu_user_version cannot be had from $qemu_user_suite"
  local root=$scratch/package-root
  rm -rf "$root"
  mkdir -p "$root/DEBIAN" "$root/usr/bin"
  printf 'Package: qemu-user\nVersion: %s\nArchitecture: all\nMaintainer: test <test@invalid>\nDescription: test\n' \
    "$qemu_user_version" >"$root/DEBIAN/control"
  [ -z "$package_qemu_line" ] || fake_qemu "$package_qemu_line" "$root/usr/bin/qemu-i386"
  fake_qemu "qemu-arm version 10.0.2" "$root/usr/bin/qemu-arm"
  dpkg-deb -b --root-owner-group "$root" "$1/qemu-user_10.0.2_amd64.deb" >/dev/null
}

# set_up: runs ensure_32bit_programs in a subshell (it exits on failure);
# its status goes to $status, its standard error to $scratch/err, and how
# it found 32-bit programs running to $how.
set_up() {
  echo 0 >"$scratch/fetches"
  status=0
  how=$(ensure_32bit_programs 2>"$scratch/err" && echo "$how_32bit") || status=$?
  fetched=$(cat "$scratch/fetches")
}
# one_line_saying TEXT: the set-up failed with one line (besides its "=="
# progress line) that says TEXT.
one_line_saying() {
  local said
  said=$(grep -v -e '^$' -e '^== ' "$scratch/err") || true
  [ "$status" -ne 0 ] && [ "$(wc -l <<<"$said")" -eq 1 ] && grep -qF "$1" <<<"$said"
}
expected_registration=":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\xfc\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:"

package_qemu_line=$qemu_version_line

new_machine
runs_natively=yes
set_up
unset runs_natively
check "where 32-bit programs run natively: nothing fetched, nothing registered, \"natively\"" \
  [ "$status" -eq 0 -a "$fetched" -eq 0 -a ! -s "$binfmt_dir/register" -a "$how" = natively ]

new_machine
set_up
check "where the kernel refuses them: set up, and they run through qemu-user 10.0.2" \
  [ "$status" -eq 0 -a "$fetched" -eq 1 -a "$how" = "through qemu-user 10.0.2" ]
check "the registration is the one line for i386 ELF, F flag, the kept interpreter" \
  [ "$(cat "$binfmt_dir/register")" = "${expected_registration}$qemu_user_dir/qemu-i386:F" ]
check "the interpreter is kept, executable, and only it: nothing else of the package" \
  [ -x "$qemu_user_dir/qemu-i386" -a "$(ls -A "$qemu_user_dir")" = qemu-i386 ]
: >"$binfmt_dir/register"
rm "$binfmt_dir/qemu-i386"
set_up
check "after a reboot (registration gone), the kept interpreter is registered again, not fetched" \
  [ "$status" -eq 0 -a "$fetched" -eq 0 -a "$how" = "through qemu-user 10.0.2" ]

new_machine
mkdir -p "$qemu_user_dir"
fake_qemu "qemu-i386 version 9.2.0 (Debian 1:9.2.0)" "$qemu_user_dir/qemu-i386"
set_up
check "an interpreter of another version in its place is replaced by the pinned one" \
  [ "$status" -eq 0 -a "$fetched" -eq 1 -a "$(
    "$qemu_user_dir/qemu-i386" --version | head -n1)" = "$qemu_version_line" ]

new_machine
entry "$binfmt_dir/qemu-i386" enabled /usr/bin/qemu-i386-static 0 $i386_magic $i386_mask
cp "$binfmt_dir/qemu-i386" "$scratch/before"
refuse_all=yes
set_up
unset refuse_all
check "a registration of that name that does not work: one line naming it, exit 1" \
  one_line_saying "qemu-i386 is registered (interpreter /usr/bin/qemu-i386-static)"
check "... and it is left alone: nothing fetched, nothing registered" \
  [ "$fetched" -eq 0 -a ! -s "$binfmt_dir/register" ]
check "... the entry unchanged" cmp -s "$binfmt_dir/qemu-i386" "$scratch/before"

new_machine
fetch_fails=yes
set_up
unset fetch_fails
check "a package that cannot be had: one line, exit 1" one_line_saying "cannot be had"
check "... and nothing registered or kept" [ ! -s "$binfmt_dir/register" -a ! -e "$qemu_user_dir/qemu-i386" ]

new_machine
package_qemu_line=""
set_up
package_qemu_line=$qemu_version_line
check "a package without qemu-i386: one line, exit 1" one_line_saying "holds no usr/bin/qemu-i386"
check "... and nothing registered" [ ! -s "$binfmt_dir/register" ]

new_machine
package_qemu_line="qemu-i386 version 10.0.3 (Debian 1:10.0.3+ds-1)"
set_up
package_qemu_line=$qemu_version_line
check "a package of another version than the pinned one: one line, exit 1" \
  one_line_saying "does not report version"
check "... and nothing registered" [ ! -s "$binfmt_dir/register" ]

new_machine
refuse_all=yes
set_up
unset refuse_all
check "still refused after registering: one line, exit 1" one_line_saying "do not run even through qemu-user"

new_machine
uid=1000
set_up
uid=0
check "not root where the kernel refuses them: one line, exit 1, nothing registered" \
  one_line_saying "only root can set up qemu-user"
check "... and nothing fetched" [ "$fetched" -eq 0 -a ! -s "$binfmt_dir/register" ]

new_machine
rm "$i386_probe"
set_up
check "without the probe program (wine32 missing): one line, exit 1" one_line_saying "wine32:i386"

finish_test
