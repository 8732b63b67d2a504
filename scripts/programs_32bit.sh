# 32-bit x86 programs on this machine: weigh.exe is one, and so is the 32-bit
# Wine that runs it. Some kernels refuse them ("Exec format error"); there
# qemu-user runs them, registered with binfmt_misc. Source it (scripts/common.sh
# does); it defines variables and functions only.
#
# The qemu-user is Debian's from bookworm-backports, pinned to the version the
# Windows tests were run with. Debian 12's own (7.2) does not do: it treats
# MAP_FIXED_NOREPLACE as a hint, and 32-bit Wine loops reserving its address
# space.
# It comes from the Debian archive of the machine's apt sources.
# shellcheck source=scripts/apt_sources.sh
. "$(dirname "${BASH_SOURCE[0]}")/apt_sources.sh"
qemu_user_suite=bookworm-backports
qemu_user_version=1:10.0.2+ds-2+deb13u1~bpo12+1
# Kept for good: the F flag makes the kernel open the interpreter once, when it
# is registered, and registering again after a reboot needs it again.
qemu_user_dir=/opt/qemu-user-10
binfmt_dir=/proc/sys/fs/binfmt_misc
# The registration, under the name Debian's own packages use: an i386 ELF
# executable or shared object (the mask lets ELF versions and OS ABIs vary).
binfmt_name=qemu-i386
binfmt_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The 32-bit program that tells whether 32-bit programs start: it comes with
# 32-bit Wine (wine32:i386) and answers --version without a Wine prefix.
i386_probe=/usr/lib/wine/wineserver32

# setup_failure MESSAGE: the one line that says why 32-bit programs cannot run
# here, and the end of the calling script.
setup_failure() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# probe_runs: true when the probe program starts and answers.
probe_runs() {
  timeout 60 "$i386_probe" --version >/dev/null 2>&1
}

# header_matches HEADER OFFSET MAGIC [MASK]: true when the bytes of HEADER (in
# hex) from OFFSET on match MAGIC under MASK, as binfmt_misc compares them.
header_matches() {
  local header=$1 offset=$2 magic=$3 mask=${4:-} i
  local length=$((${#magic} / 2))
  [ "${#header}" -ge $(((offset + length) * 2)) ] || return 1
  for ((i = 0; i < length; i++)); do
    local byte=$((16#${header:$(((offset + i) * 2)):2}))
    local want=$((16#${magic:$((i * 2)):2})) care=255
    [ -n "$mask" ] && care=$((16#${mask:$((i * 2)):2}))
    (((byte ^ want) & care)) && return 1
  done
  return 0
}

# i386_interpreter: prints the interpreter that binfmt_misc hands the probe
# program to; fails when no enabled registration takes it (the kernel then
# runs it itself, or refuses it).
i386_interpreter() {
  [ -f "$binfmt_dir/status" ] && [ "$(cat "$binfmt_dir/status")" = disabled ] && return 1
  local header entry
  header=$(od -An -v -tx1 -N 256 "$i386_probe" | tr -d ' \n')
  for entry in "$binfmt_dir"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    [ -f "$entry" ] || continue
    local key value enabled=no interpreter="" offset=0 magic="" mask=""
    while read -r key value; do
      case $key in
        enabled) enabled=yes ;;
        interpreter) interpreter=$value ;;
        offset) offset=$value ;;
        magic) magic=$value ;;
        mask) mask=$value ;;
      esac
    done <"$entry"
    # Entries by file name extension have no magic and never match a program
    # started by its path.
    [ "$enabled" = yes ] && [ -n "$magic" ] || continue
    if header_matches "$header" "$offset" "$magic" "$mask"; then
      echo "$interpreter"
      return 0
    fi
  done
  return 1
}

# how_32bit_programs_run: "natively", or "through qemu-user 10.0.2" (through
# the interpreter's path where it is no qemu-user).
how_32bit_programs_run() {
  local interpreter version
  interpreter=$(i386_interpreter) || { echo natively; return 0; }
  version=$("$interpreter" --version 2>/dev/null |
    sed -n '1s/^qemu-[a-z0-9_]* version \([0-9][0-9.]*\).*/\1/p')
  if [ -n "$version" ]; then
    echo "through qemu-user $version"
  else
    echo "through $interpreter"
  fi
}

# apt_error LOG: the first error apt wrote into LOG, else its last line.
apt_error() {
  grep -m1 '^E:' "$1" || tail -n1 "$1"
}

# fetch_qemu_user FOLDER: downloads the pinned qemu-user package into FOLDER
# with a private apt configuration: the machine's own sources, lists and
# cache stay as they are. The suite's signature is checked as for any apt
# source.
fetch_qemu_user() {
  local folder=$1 arch
  arch=$(dpkg --print-architecture)
  require_debian_archive bookworm "qemu-user ($qemu_user_suite)"
  local qemu_user_mirror=$debian_archive
  printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
    "$qemu_user_mirror" "$qemu_user_suite" >"$folder/sources.list"
  mkdir -p "$folder/lists/partial" "$folder/cache/archives/partial"
  local private=(-o "Dir::Etc::sourcelist=$folder/sources.list" -o Dir::Etc::sourceparts=-
    -o "Dir::State::Lists=$folder/lists" -o "Dir::Cache=$folder/cache" -o "APT::Architectures=$arch")
  apt-get -q "${private[@]}" update >"$folder/apt.log" 2>&1 ||
    setup_failure "cannot read the suite $qemu_user_suite from $qemu_user_mirror for qemu-user" \
      "(apt-get update: $(apt_error "$folder/apt.log"))"
  (cd "$folder" && apt-get -q "${private[@]}" download "qemu-user=$qemu_user_version") \
    >>"$folder/apt.log" 2>&1 ||
    setup_failure "qemu-user $qemu_user_version cannot be had from $qemu_user_suite" \
      "($(apt_error "$folder/apt.log"))"
}

# qemu_user_in_place: true when the pinned qemu-i386 is in qemu_user_dir.
qemu_user_in_place() {
  # Read whole, not through head: under pipefail, an interpreter that is
  # still writing when head has gone dies of SIGPIPE and fails the check.
  local answer
  answer=$("$qemu_user_dir/qemu-i386" --version 2>/dev/null) || return 1
  [[ ${answer%%$'\n'*} == *"(Debian $qemu_user_version)"* ]]
}

# install_qemu_user: puts the pinned qemu-i386 into qemu_user_dir, unless it
# is there already. The package is only unpacked, never installed: it would
# replace Debian 12's qemu packages.
install_qemu_user() {
  qemu_user_in_place && return 0
  local work
  work=$(mktemp -d)
  # apt downloads as its own user, who must be able to write there.
  chmod 755 "$work"
  # A subshell, so that a failure ends it with its message and the scratch
  # folder goes either way (every step checks its own outcome: errexit does
  # not hold in a condition).
  if ! (
    fetch_qemu_user "$work"
    package=$(find "$work" -maxdepth 1 -name 'qemu-user_*.deb' | head -n1)
    [ -n "$package" ] || setup_failure "apt-get download left no qemu-user package"
    dpkg-deb -x "$package" "$work/unpacked" ||
      setup_failure "cannot unpack $(basename "$package")"
    [ -x "$work/unpacked/usr/bin/qemu-i386" ] ||
      setup_failure "$(basename "$package") holds no usr/bin/qemu-i386"
    # A new file moved into place: a registration that holds the old one
    # open keeps working.
    { mkdir -p "$qemu_user_dir" &&
      cp "$work/unpacked/usr/bin/qemu-i386" "$qemu_user_dir/.qemu-i386.new" &&
      chmod 755 "$qemu_user_dir/.qemu-i386.new" &&
      mv -f "$qemu_user_dir/.qemu-i386.new" "$qemu_user_dir/qemu-i386"; } ||
      setup_failure "cannot put qemu-i386 into $qemu_user_dir"
  ); then
    rm -rf "$work"
    exit 1
  fi
  rm -rf "$work"
  qemu_user_in_place ||
    setup_failure "$qemu_user_dir/qemu-i386 does not report version $qemu_user_version"
}

# setup_qemu_user: has binfmt_misc hand 32-bit programs to the pinned
# qemu-user. Another registration is never replaced or removed: where one
# exists under the same name and 32-bit programs still fail, that is the
# verdict.
setup_qemu_user() {
  [ "$(id -u)" -eq 0 ] ||
    setup_failure "this machine does not run 32-bit programs, and only root can set up qemu-user to run them"
  if [ ! -e "$binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null ||
      setup_failure "this machine does not run 32-bit programs, and binfmt_misc cannot be mounted on $binfmt_dir"
  fi
  if [ -e "$binfmt_dir/$binfmt_name" ]; then
    setup_failure "32-bit programs do not run although $binfmt_dir/$binfmt_name is registered" \
      "(interpreter $(sed -n 's/^interpreter //p' "$binfmt_dir/$binfmt_name")); it is left as it is"
  fi
  printf '\n== This machine does not run 32-bit programs: setting up qemu-user %s in %s\n' \
    "$qemu_user_version" "$qemu_user_dir" >&2
  install_qemu_user
  printf ':%s:M::%s:%s:%s:F' "$binfmt_name" "$binfmt_magic" "$binfmt_mask" \
    "$qemu_user_dir/qemu-i386" >"$binfmt_dir/register" ||
    setup_failure "cannot register $qemu_user_dir/qemu-i386 in $binfmt_dir"
  probe_runs ||
    setup_failure "32-bit programs do not run even through qemu-user $qemu_user_version" \
      "($binfmt_dir/$binfmt_name registered)"
}

# ensure_32bit_programs: makes sure that 32-bit programs run here, setting up
# qemu-user where the kernel refuses them, and sets how_32bit to how they run
# ("natively", "through qemu-user 10.0.2"). Where they cannot be made to run,
# exits with one line that says why.
ensure_32bit_programs() {
  [ -f "$i386_probe" ] ||
    setup_failure "$i386_probe is missing (package wine32:i386): 32-bit programs cannot be tried"
  probe_runs || setup_qemu_user
  how_32bit=$(how_32bit_programs_run)
}
