# Shared by the scripts: Debian packages, the Debian archive, a virtual
# display and 32-bit programs.
# Source it; it defines functions only.

# ensure_packages: see scripts/packages.sh.
# shellcheck source=scripts/packages.sh
. "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

# require_debian_archive: the Debian archive of the machine's apt sources;
# see scripts/apt_sources.sh.
# shellcheck source=scripts/apt_sources.sh
. "$(dirname "${BASH_SOURCE[0]}")/apt_sources.sh"

# start_virtual_display: starts Xvfb on a free display and exports DISPLAY;
# stop_virtual_display ends it.
xvfb_pid=""
start_virtual_display() {
  local display
  for display in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
    # -noreset: by default the server resets whenever its last client
    # leaves, and a client connecting at that moment is refused.
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$display" ] && break
      sleep 0.1
    done
    if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$display" ]; then
      export DISPLAY=":$display"
      return 0
    fi
    xvfb_pid=""
  done
  echo "$(basename "$0"): could not start Xvfb" >&2
  exit 1
}
stop_virtual_display() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
  return 0
}

# ensure_32bit_programs and how_32bit: 32-bit programs here, natively or
# through qemu-user.
# shellcheck source=scripts/programs_32bit.sh
. "$(dirname "${BASH_SOURCE[0]}")/programs_32bit.sh"
