# Shared by the package tests. Source it; it defines functions only.

# project_version: the version in the top CMakeLists.txt, for example 1.0.
project_version() {
  sed -n 's/^project(weigh VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../CMakeLists.txt"
}

# version_quad VERSION: the version in four numbers, 1.0 -> 1.0.0.0.
version_quad() {
  local parts
  IFS=. read -ra parts <<<"$1"
  while [ ${#parts[@]} -lt 4 ]; do parts+=(0); done
  (IFS=.; echo "${parts[*]}")
}

failures=0
# fail MESSAGE: reports a failed check; the test goes on and fails at the end.
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: runs the command; a non-zero status is a failure.
check() {
  local description=$1
  shift
  if "$@"; then echo "ok: $description"; else fail "$description"; fi
}
# finish_test: exits with the verdict.
finish_test() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
}

# same_bytes FILE PRINTF-FORMAT [ARGS]: the file holds exactly these bytes.
same_bytes() {
  local file=$1
  shift
  # shellcheck disable=SC2059
  [ -f "$file" ] && cmp -s "$file" <(printf "$@")
}

# no_build_paths TOP FILE...: none of the files mentions the source or
# build tree.
no_build_paths() {
  local top=$1
  shift
  ! grep -l -F "$top" "$@"
}
