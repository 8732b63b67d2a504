# Debian packages for the scripts: installs what is missing, and gets past a
# mirror that serves a damaged index for a while (a mirror mid-sync can do so
# for hours). Source it (scripts/common.sh does); it defines variables and
# functions only.
#
# apt is used as it is set up on the machine; APT_CONFIG and DPKG_ADMINDIR,
# when set, point both at a private configuration and package database, as
# the test of this file does.

# How often `apt-get update` is tried when an index fails, and the pause in
# seconds between tries.
apt_update_tries=3
apt_update_pause=20

# What the last apt_update could not read, a line each as apt names it:
# "URI SUITE/COMPONENT ARCHITECTURE Packages" (or "URI SUITE InRelease"
# where a whole suite failed).
apt_failed_indexes=""

# package_message TEXT...: one line on standard error, in the calling
# script's name.
package_message() {
  echo "$(basename "$0"): $*" >&2
}

# apt_update: reads the package lists, trying again after a pause while an
# index fails, then goes on with the lists it has, saying which failed; they
# are left in apt_failed_indexes. Never fails: what cannot be installed
# without those indexes is the install's to tell.
apt_update() {
  local log try
  log=$(mktemp)
  apt_failed_indexes=""
  for ((try = 1; try <= apt_update_tries; try++)); do
    if DEBIAN_FRONTEND=noninteractive apt-get update -q >"$log" 2>&1; then
      apt_failed_indexes=""
      rm -f "$log"
      return 0
    fi
    # "Err:6 http://host/debian-security bookworm-security/main i386 Packages"
    apt_failed_indexes=$(sed -n 's/^Err:[0-9]* //p' "$log")
    [ -n "$apt_failed_indexes" ] || apt_failed_indexes=$(grep -m1 '^E:' "$log" || tail -n1 "$log")
    if ((try < apt_update_tries)); then
      package_message "apt-get update could not read $(apt_failed_list); trying again in ${apt_update_pause} s"
      sleep "$apt_update_pause"
    fi
  done
  package_message "going on without what apt-get update could not read after $apt_update_tries tries: $(apt_failed_list)"
  rm -f "$log"
  return 0
}

# apt_failed_list: the failed indexes on one line, separated by "; ".
apt_failed_list() {
  printf '%s\n' "$apt_failed_indexes" | sed '/^$/d' | paste -sd ';' | sed 's/;/; /g'
}

# apt_failed_suites: the suites of the failed indexes, one a line.
apt_failed_suites() {
  printf '%s\n' "$apt_failed_indexes" | awk 'NF >= 3 {sub(/\/.*/, "", $2); print $2}' | sort -u
}

# apt_install_ranked PREFERENCES PACKAGE...: installs the packages with the
# failed indexes' suites ranked below the others, through a private
# preferences file (nothing in /etc/apt changes): apt then takes the versions
# that the suites it could read in full have for every architecture. With -s
# before the packages, only simulates.
apt_install_ranked() {
  local preferences=$1 suite
  shift
  {
    # The first record that matches a suite decides, so these come before
    # the machine's own preferences file, which this one stands in for.
    for suite in $(apt_failed_suites); do
      printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$suite"
      printf 'Package: *\nPin: release a=%s\nPin-Priority: 100\n\n' "$suite"
    done
    local own=""
    eval "$(apt-config shell own Dir::Etc::Preferences/f)"
    if [ -n "$own" ] && [ -f "$own" ]; then cat "$own"; fi
  } >"$preferences"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o "Dir::Etc::Preferences=$preferences" "$@"
}

# apt_install PACKAGE...: installs the packages. Where apt cannot satisfy
# them from the lists it has and some index could not be read, installs with
# that index's suite ranked below the others, saying so in one line; where
# that does not help either, exits with one line that names the index and
# what to do (apt's own account stays in a file that the line names).
apt_install() {
  local log preferences
  log=$(mktemp)
  preferences=$(mktemp)
  if DEBIAN_FRONTEND=noninteractive apt-get install -s -q --no-install-recommends "$@" >"$log" 2>&1; then
    rm -f "$log" "$preferences"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
    return
  fi
  if [ -z "$apt_failed_indexes" ]; then
    cat "$log" >&2
    rm -f "$log" "$preferences"
    package_message "apt cannot install $*"
    exit 1
  fi
  if apt_install_ranked "$preferences" -s "$@" >"$log" 2>&1; then
    package_message "installing with $(apt_failed_suites | paste -sd ' ') ranked below the other suites" \
      "for this install, as apt could not read $(apt_failed_list)"
    apt_install_ranked "$preferences" "$@"
    rm -f "$log" "$preferences"
    return
  fi
  rm -f "$preferences"
  package_message "cannot install $* without $(apt_failed_list), which apt could not read" \
    "(a mirror mid-sync serves such an index for a while): run the script again later," \
    "or name another mirror in /etc/apt/sources.list.d (apt's account: $log)"
  exit 1
}

# ensure_packages NAME...: installs the Debian packages that are missing (as
# root, with the i386 architecture for the :i386 ones). A machine that has
# them all installs nothing and asks no mirror.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  printf '\n== Installing %s\n' "${missing[*]}" >&2
  if [ "$(id -u)" -ne 0 ]; then
    package_message "these packages are missing and only root can install them: ${missing[*]}"
    exit 1
  fi
  case " ${missing[*]}" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
  esac
  apt_update
  apt_install "${missing[@]}"
}
