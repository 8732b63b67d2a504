#!/usr/bin/env bash
# Builds the packages a second time, from a copy of the sources under other
# conditions, and compares every file it makes with the one in dist/, byte
# for byte. Where one differs, diffoscope tells how, and the test fails.
#
#   reproducible_test.sh WORK
#
# Run it after scripts/package. The second build differs from a usual one in
# the checkout's path, the build folder's, the time zone (UTC+14), the
# locale (French), the umask of the checkout (077) and, with faketime, the
# date (500 days on). It gets the commit's SOURCE_DATE_EPOCH, as anyone who
# rebuilds a commit does. WORK is emptied first and keeps the second build,
# its log and diffoscope's reports.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
work=$(realpath -m "$1")
# shellcheck source=packaging/common.sh
. "$here/common.sh"

ls "$top"/dist/*.zip "$top"/dist/*.deb >/dev/null || { echo "FAIL: no packages in dist/: run scripts/package first"; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}

rm -rf --one-file-system "$work"
copy=$work/elsewhere/weigh-source
mkdir -p "$copy"
# The sources as they are, committed or not, without builds or packages,
# unpacked with modes from the umask.
(
  umask 077
  cd "$top"
  git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - 2>/dev/null |
    tar -C "$copy" --no-same-permissions -xf -
)

conditions=(env TZ=Pacific/Kiritimati LC_ALL=fr_FR.UTF-8 LANG=fr_FR.UTF-8 SOURCE_DATE_EPOCH="$epoch")
if command -v faketime >/dev/null; then
  conditions+=(faketime -f +500d)
else
  echo "note: no faketime, the second build runs at today's date"
fi
echo "second build: ${conditions[*]}, in $copy"
started=$(date +%s)
if ! (cd "$copy" && umask 077 && "${conditions[@]}" scripts/package "$work/build") \
     >"$work/package.log" 2>&1; then
  tail -30 "$work/package.log"
  fail "the second build failed (log: $work/package.log)"
  finish_test
fi
echo "second build took $(($(date +%s) - started)) s"

# Everything the second build made, and nothing less in dist/.
made=$(cd "$copy/dist" && find . -type f | LC_ALL=C sort)
[ -n "$made" ] || fail "the second build made nothing"
for package in $(cd "$top/dist" && ls -- *.zip *.deb); do
  grep -qxF "./$package" <<<"$made" || fail "the second build made no $package"
done
while read -r file; do
  [ -n "$file" ] || continue
  name=${file#./}
  if [ ! -f "$top/dist/$name" ]; then
    fail "$name: only the second build made it"
  elif cmp -s "$top/dist/$name" "$copy/dist/$name"; then
    echo "same bytes: $name"
  else
    report=$work/diffoscope-$(tr / _ <<<"$name").txt
    diffoscope --text "$report" "$top/dist/$name" "$copy/dist/$name" >/dev/null 2>&1 || true
    fail "$name differs; diffoscope (all of it in $report):"
    head -80 "$report"
  fi
done <<<"$made"
if [ -f "$top/dist/SHA256SUMS" ]; then
  (cd "$top/dist" && sha256sum --quiet -c SHA256SUMS) || fail "dist/SHA256SUMS does not check"
else
  fail "no dist/SHA256SUMS"
fi
finish_test
