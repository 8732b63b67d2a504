# Which Debian archive the machine's apt uses: the scripts fetch from it what
# apt does not install (a minimal Debian root, qemu-user from backports), so
# that a machine behind a company mirror, a proxy or a snapshot gets them
# where it gets everything else. Source it (scripts/common.sh does); it
# defines functions only.
#
# The sources are read where apt reads them (Dir::Etc::sourcelist and
# Dir::Etc::sourceparts, so APT_CONFIG is honoured): the one-line format of
# sources.list and *.list files, and the deb822 format of *.sources files.

# debian_archive_lookup SUITE: prints "URI FILE" for the first enabled
# binary ("deb") source of this machine's architecture that lists SUITE
# itself (bookworm, not bookworm-security or bookworm-updates), in the order
# apt reads the files; prints nothing and fails when there is none. Only
# URIs that other tools can fetch from too count: http, https, ftp and file.
debian_archive_lookup() {
  local suite=$1 list="" parts="" arch file
  eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
  arch=$(dpkg --print-architecture)
  local files=()
  [ -n "$list" ] && [ -f "$list" ] && files+=("$list")
  if [ -n "$parts" ] && [ -d "$parts" ]; then
    # apt's order: by name; files of other endings (.disabled, .save) are
    # not read.
    while IFS= read -r file; do
      files+=("$file")
    done < <(find "$parts" -maxdepth 1 -type f \( -name '*.list' -o -name '*.sources' \) | LC_ALL=C sort)
  fi
  for file in "${files[@]}"; do
    local found
    case $file in
      *.sources) found=$(debian_archive_in_deb822 "$suite" "$arch" <"$file") ;;
      *) found=$(debian_archive_in_one_line "$suite" "$arch" <"$file") ;;
    esac
    if [ -n "$found" ]; then
      echo "$found $file"
      return 0
    fi
  done
  return 1
}

# debian_archive_in_one_line SUITE ARCH: the first URI on standard input, in
# sources.list's format, that debian_archive_lookup accepts.
debian_archive_in_one_line() {
  awk -v suite="$1" -v arch="$2" '
    function usable(uri) { return uri ~ /^(https?|ftp):\/\// || uri ~ /^file:\// }
    {
      if ($1 != "deb") next
      line = $0
      sub(/^[ \t]*deb[ \t]+/, "", line)
      options = ""
      if (line ~ /^\[/) {
        end = index(line, "]")
        if (end == 0) next
        options = substr(line, 2, end - 2)
        line = substr(line, end + 1)
      }
      n = split(options, option, /[ \t]+/)
      skip = 0
      for (i = 1; i <= n; i++) {
        if (option[i] ~ /^arch=/) {
          m = split(substr(option[i], 6), archs, ",")
          listed = 0
          for (j = 1; j <= m; j++) if (archs[j] == arch) listed = 1
          if (!listed) skip = 1
        }
        if (option[i] == "enabled=no") skip = 1
      }
      if (skip) next
      n = split(line, word, /[ \t]+/)
      # The words of the line: [""] URI SUITE COMPONENT...
      k = (word[1] == "") ? 2 : 1
      uri = word[k]
      if (word[k + 1] == suite && usable(uri)) {
        sub(/\/+$/, "", uri)
        print uri
        exit
      }
    }'
}

# debian_archive_in_deb822 SUITE ARCH: the first URI on standard input, in
# the deb822 format of *.sources files, that debian_archive_lookup accepts.
debian_archive_in_deb822() {
  awk -v suite="$1" -v arch="$2" '
    function usable(uri) { return uri ~ /^(https?|ftp):\/\// || uri ~ /^file:\// }
    function has(list, word,    n, i, w) {
      n = split(list, w, /[ \t]+/)
      for (i = 1; i <= n; i++) if (w[i] == word) return 1
      return 0
    }
    function stanza_end(    n, i, u) {
      # exit runs END, which ends the last stanza again.
      if (printed) return
      if (("types" in field) && has(field["types"], "deb") && has(field["suites"], suite) &&
          tolower(field["enabled"]) != "no" &&
          (!("architectures" in field) || has(field["architectures"], arch))) {
        n = split(field["uris"], u, /[ \t]+/)
        for (i = 1; i <= n; i++) {
          if (usable(u[i])) {
            sub(/\/+$/, "", u[i])
            print u[i]
            printed = 1
            exit
          }
        }
      }
      split("", field)
      name = ""
    }
    /^#/ { next }
    /^[ \t]*$/ { stanza_end(); next }
    /^[ \t]/ {
      # A continuation line (a key block under Signed-By, say).
      if (name != "") field[name] = field[name] " " $0
      next
    }
    {
      colon = index($0, ":")
      if (colon == 0) next
      name = tolower(substr($0, 1, colon - 1))
      value = substr($0, colon + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", value)
      field[name] = value
    }
    END { stanza_end() }'
}

# require_debian_archive SUITE PURPOSE: sets debian_archive to the URI that
# debian_archive_lookup finds for SUITE and says on standard error which it
# is, for PURPOSE ("a minimal Debian root"); where there is none, ends the
# script with one line that says so.
require_debian_archive() {
  local suite=$1 purpose=$2 found
  if ! found=$(debian_archive_lookup "$suite"); then
    echo "$(basename "$0"): no enabled \"deb\" source for $suite in this machine's apt sources" \
      "(sources.list, sources.list.d/*.list and *.sources), so nowhere to fetch $purpose from" >&2
    exit 1
  fi
  debian_archive=${found%% *}
  echo "$(basename "$0"): $purpose from $debian_archive (the machine's apt sources, ${found#* })" >&2
}

# apt_download_origin PACKAGE: prints the archive (the URI before "/pool/")
# that `apt-get download PACKAGE` takes it from, as the machine's apt sources
# and lists have it; fails when apt knows no place to get it.
apt_download_origin() {
  local uri
  uri=$(apt-get download --print-uris "$1" 2>/dev/null | sed -n "1s/^'\([^']*\)'.*/\1/p")
  [ -n "$uri" ] || return 1
  echo "${uri%%/pool/*}"
}
