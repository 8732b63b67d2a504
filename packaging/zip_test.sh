#!/usr/bin/env bash
# The Windows zip as a station gets it: unzipped into a fresh folder, its
# files checked, weigh.exe run from there under Wine against the simulated
# scale, and its version resource read back.
#
#   zip_test.sh ZIP WIN32_BUILD SCALE_SIM WINEPREFIX
#
# WIN32_BUILD is the build the zip was made from: scale-sim.exe is expected
# in the zip exactly when that build made one. SCALE_SIM is a native
# simulator; the scale sits on the Linux side of Wine.
set -euo pipefail
zip=$(realpath "$1") build=$(realpath "$2") sim=$(realpath "$3") prefix=$(realpath -m "$4")
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
# shellcheck source=packaging/common.sh
. "$here/common.sh"

version=$(project_version)
scratch=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$prefix/dosdevices/com1"
  "$top/tools/wine-end" "$prefix" || true
  rm -rf "$scratch"
}
trap cleanup EXIT

check "the zip is named for version $version" [ "$(basename "$zip")" = "weigh-$version-win32.zip" ]

# --- What is in it ------------------------------------------------------------
folder=weigh-$version-win32
expected="$folder/README.txt
$folder/weigh.exe"
[ -f "$build/bin/scale-sim.exe" ] && expected+=$'\n'"$folder/scale-sim.exe"
listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
check "the zip holds $(echo "$expected" | tr '\n' ' ')" [ "$listed" = "$(echo "$expected" | sort)" ]

mkdir "$scratch/station"
cd "$scratch/station"
unzip -q "$zip"
cd "$folder"

check "README.txt ends every line with CR LF" \
  [ "$(grep -c $'\r$' README.txt)" -eq "$(wc -l <README.txt)" -a "$(tail -c1 README.txt | od -An -tx1)" = " 0a" ]
check "README.txt names version $version" grep -q "^weigh $version for Windows" README.txt
check "README.txt has no unfilled placeholder" bash -c '! grep -q "@[A-Z_]*@" README.txt'
check "README.txt says what \"Eroare\" means" grep -q '^"Eroare"' README.txt
# Every message an operator can see, as the program words it.
while IFS= read -r line; do
  check "README.txt explains \"$line\"" grep -qF -- "  $line" README.txt
  check "the program still says \"$line\"" grep -qF -- "${line//\\/\\\\}" "$top"/station/*.cc
done <<'MESSAGES'
Cantitate netratata : 
!ATENTIE! - NU SE CALCULEAZA - !ATENTIE!
Cantitate Noua NETRATATA : 
Fisierul raspuns\cant.txt nu poate fi scris
Fisierul log.txt nu poate fi scris
Cantitate noua : 
MESSAGES
# Kept in step with the documents for operators and integrators: the same
# files, the same limits.
for fact in 'Kavrin.inf' 'log.txt' 'raspuns\cant.txt' 'COM1' '9600 baud' '5 s' '60 s'; do
  in_readme_md=no in_readme_txt=no
  cat "$top/README.md" "$top/docs/operating.md" "$top/docs/integrating.md" |
    grep -F "$fact" >/dev/null && in_readme_md=yes
  # grep reads it all: under pipefail, a grep -q that stops early can end
  # sed with SIGPIPE and so fail the pipe although the fact is there.
  sed 's/ seconds/ s/g' README.txt | grep -F "$fact" >/dev/null && in_readme_txt=yes
  check "the documents and README.txt agree on \"$fact\"" [ "$in_readme_md" = "$in_readme_txt" ]
done
check "no file mentions the build tree" no_build_paths "$top" ./*
for program in ./*.exe; do
  check "$program has no debug information or symbols" \
    bash -c "! i686-w64-mingw32-objdump -h '$program' | grep -q debug &&
             i686-w64-mingw32-nm '$program' 2>&1 | grep -q 'no symbols'"
done

# --- The version resource -------------------------------------------------------
resource=$("$here/version_resource.py" weigh.exe) || resource=""
quad=$(version_quad "$version")
for entry in "FixedFileVersion=$quad" "FixedProductVersion=$quad" "FileVersion=$version" \
             "ProductVersion=$version" "OriginalFilename=weigh.exe" "ProductName=weigh"; do
  check "version resource: $entry" grep -qx "$entry" <<<"$resource"
done
check "version resource: a file description" grep -q '^FileDescription=..' <<<"$resource"

# --- Run from the folder, as the README says ------------------------------------
# weigh.exe is a 32-bit program: where the kernel refuses those, it runs
# through qemu-user (set up here if need be, as by scripts/test).
# shellcheck source=scripts/common.sh
. "$top/scripts/common.sh"
ensure_32bit_programs
echo "32-bit programs run $how_32bit"
if ! WINEPREFIX=$prefix wine --version >/dev/null 2>&1; then
  fail "Wine cannot start here; weigh.exe was not run"
  finish_test
fi
run() { timeout 120 "$top/tools/wine-run" "$prefix" ./weigh.exe; }

# weigh.exe from the zip names itself with the digest that sha256sum gives.
timeout 120 "$top/tools/wine-run" "$prefix" ./weigh.exe --version >"$scratch/version" 2>&1 || true
tr -d '\r' <"$scratch/version" | sed 's/^/  /'
check "weigh.exe --version shows the SHA-256 of weigh.exe" \
  grep -qx "SHA-256: $(sha256sum weigh.exe | cut -d' ' -f1)"$'\r' "$scratch/version"

# The first run finds no Kavrin.inf: it writes COM1 and hands over nothing.
check "first run exits 0" run
check "first run writes Kavrin.inf holding COM1" same_bytes Kavrin.inf 'COM1\r\n'
check "first run hands over an empty line" same_bytes raspuns/cant.txt '\r\n'
rm -f raspuns/cant.txt

# The scale on COM1 answers 12.50 kg (the reply of the worked example).
"$sim" --quiet stable:12.50 >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/sim.out" ] && break
  sleep 0.05
done
"$top/tools/wine-run" "$prefix" --boot
ln -sfn "$(head -n1 "$scratch/sim.out")" "$prefix/dosdevices/com1"
check "a weighing exits 0" run
check "the weighing hands over STX 12.50" same_bytes raspuns/cant.txt '\00212.50\r\n'
check "log.txt holds a line for each run" \
  bash -c "tr -d '\r' <log.txt | LC_ALL=C grep -Ecx '[0-9/]{10} - [0-9:]{8} -  / Cantitate noua : (|.12\.50)' | grep -qx 2"
check "no temporary file left in raspuns" bash -c '[ -z "$(find raspuns -name "*.tmp")" ]'

finish_test
