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

# fail, check and finish_test: the checks of every shell test.
# shellcheck source=scripts/test_harness.sh
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/test_harness.sh"

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
