# The checks of the shell tests: each check says "ok:" or "FAIL:" and the
# test goes on, so that one run shows every failure; finish_test gives the
# verdict. Source it; it defines a counter and functions only.

failures=0

# fail MESSAGE: reports a failed check; the test fails at the end.
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# check DESCRIPTION COMMAND...: runs the command; a non-zero status is a
# failure.
check() {
  local description=$1
  shift
  if "$@"; then echo "ok: $description"; else fail "$description"; fi
}

# finish_test: exits 1 when a check failed, else says that all passed.
finish_test() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
}
