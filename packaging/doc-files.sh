#!/usr/bin/env bash
# Writes the package's changelog.gz (Debian changelog format, gzip -9n) and
# copyright file into OUT_DIR, from the version and the git history:
#   doc-files.sh SOURCE_DIR OUT_DIR PACKAGE VERSION MAINTAINER HOLDER COPYRIGHT_TEMPLATE
#
# With history, each version has one entry: the subjects of the commits made
# while the top-level CMakeLists.txt carried that version (first parents
# only, so a merged branch reads as its merge), dated by the newest of them.
# Without it (a tarball, no git, or a source tree inside someone else's
# repository), one entry for VERSION, dated by SOURCE_DATE_EPOCH or by the
# time CMakeLists.txt was last changed. A file whose content is unchanged is
# not rewritten.
set -euo pipefail
export LC_ALL=C TZ=UTC
source_dir=$1 out_dir=$2 package=$3 version=$4 maintainer=$5 holder=$6 template=$7

# The source tree's own history: true when git runs and SOURCE_DIR is the top
# of its work tree.
has_history() {
  command -v git >/dev/null 2>&1 || return 1
  local top
  top=$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null) || return 1
  git -C "$source_dir" rev-parse --verify -q HEAD >/dev/null || return 1
  [[ $(realpath "$top") == $(realpath "$source_dir") ]]
}

# The version in the project() line of a CMakeLists.txt read on stdin.
project_version() {
  sed -n 's/^[[:space:]]*project([^)]*VERSION[[:space:]]\{1,\}\([^[:space:])]*\).*/\1/p' | head -n 1
}

# An entry's items: each subject after "  * ", wrapped at 80 columns.
items() {
  awk '{
    gsub(/\t/, " ");
    line = "  *"; n = split($0, words, / +/);
    for (i = 1; i <= n; i++) {
      if (words[i] == "") continue;
      if (length(line) > 4 && length(line) + 1 + length(words[i]) > 80) { print line; line = "   "; }
      line = line " " words[i];
    }
    if (length(line) > 3) print line;
  }'
}

# entry VERSION EPOCH: the header, the items read on stdin, the trailer.
entry() {
  printf '%s (%s) unstable; urgency=medium\n\n' "$package" "$1"
  items
  printf '\n -- %s  %s\n\n' "$maintainer" "$(date -R -d "@$2")"
}

# The history, newest first, as "epoch<TAB>version<TAB>subject" lines: a
# commit's version is the one its CMakeLists.txt carries, read only at the
# commits whose diff touches a project() line.
history() {
  local git=(git -C "$source_dir") commit
  declare -A version_at
  for commit in $("${git[@]}" log --first-parent --diff-merges=first-parent --no-patch --format=%H \
    -G '^[[:space:]]*project[[:space:]]*[(]' HEAD -- CMakeLists.txt); do
    version_at[$commit]=$("${git[@]}" show "$commit:CMakeLists.txt" | project_version)
  done
  local hash epoch subject current=""
  local -a newest_first=()
  while IFS=$'\t' read -r hash epoch subject; do
    newest_first+=("$hash"$'\t'"$epoch"$'\t'"$subject")
  done < <("${git[@]}" log --first-parent --format=$'%H\t%ct\t%s' HEAD)
  # Versions are known from the oldest commit on: walk backwards.
  local i
  local -a lines=()
  for ((i = ${#newest_first[@]} - 1; i >= 0; i--)); do
    IFS=$'\t' read -r hash epoch subject <<<"${newest_first[i]}"
    [[ -z ${version_at[$hash]:-} ]] || current=${version_at[$hash]}
    lines+=("$epoch"$'\t'"${current:-$version}"$'\t'"$subject")
  done
  for ((i = ${#lines[@]} - 1; i >= 0; i--)); do printf '%s\n' "${lines[i]}"; done
}

# The changelog from history lines on stdin (newest first): one entry per
# run of commits with the same version, its items oldest first, dated by its
# newest commit. A VERSION that HEAD does not carry yet (an uncommitted change
# of the version) gets an entry of its own, dated now.
changelog_from_history() {
  local epoch line_version subject entry_version="" entry_epoch=0
  local -a subjects=()
  while IFS=$'\t' read -r epoch line_version subject; do
    if [[ -z $entry_version && $line_version != "$version" ]]; then
      echo "Version $version, not committed yet." | entry "$version" "$(date +%s)"
    fi
    if [[ $line_version != "$entry_version" ]]; then
      write_entry "$entry_version" "$entry_epoch" "${subjects[@]}"
      entry_version=$line_version entry_epoch=0 subjects=()
    fi
    ((epoch <= entry_epoch)) || entry_epoch=$epoch
    [[ -z ${subject// /} ]] || subjects+=("$subject")
  done
  write_entry "$entry_version" "$entry_epoch" "${subjects[@]}"
}

# write_entry VERSION EPOCH SUBJECT...: the subjects given newest first, as an
# entry that lists them oldest first; nothing without a subject.
write_entry() {
  local entry_version=$1 entry_epoch=$2 i
  shift 2
  (($#)) || return 0
  local -a newest_first=("$@")
  for ((i = ${#newest_first[@]} - 1; i >= 0; i--)); do printf '%s\n' "${newest_first[i]}"; done |
    entry "$entry_version" "$entry_epoch"
}

changelog_without_history() {
  local epoch=${SOURCE_DATE_EPOCH:-$(stat -c %Y "$source_dir/CMakeLists.txt")}
  echo "Version $version, packed from a source tree without its git history." |
    entry "$version" "$epoch"
}

# The years of the history ("2024-2026", or one year), or of the fallback date.
copyright_years() {
  local first last
  if has_history; then
    first=$(git -C "$source_dir" log --format=%ct HEAD | sort -n | head -n 1)
    last=$(git -C "$source_dir" log --format=%ct HEAD | sort -n | tail -n 1)
  else
    first=${SOURCE_DATE_EPOCH:-$(stat -c %Y "$source_dir/CMakeLists.txt")}
    last=$first
  fi
  first=$(date +%Y -d "@$first") last=$(date +%Y -d "@$last")
  if [[ $first == "$last" ]]; then echo "$first"; else echo "$first-$last"; fi
}

# replace_if_changed FILE: moves FILE.new over FILE unless both hold the same.
replace_if_changed() {
  if cmp -s "$1.new" "$1"; then rm -f "$1.new"; else mv -f "$1.new" "$1"; fi
}

mkdir -p "$out_dir"
if has_history; then
  history | changelog_from_history
else
  changelog_without_history
fi | sed '$d' | gzip -9 -n >"$out_dir/changelog.gz.new"
replace_if_changed "$out_dir/changelog.gz"

years=$(copyright_years)
# The template's placeholders: @PACKAGE@, @MAINTAINER@, @HOLDER@, @YEARS@.
escape() { printf '%s' "$1" | sed 's/[\\&|]/\\&/g'; }
sed -e "s|@PACKAGE@|$(escape "$package")|g" -e "s|@MAINTAINER@|$(escape "$maintainer")|g" \
  -e "s|@HOLDER@|$(escape "$holder")|g" -e "s|@YEARS@|$(escape "$years")|g" \
  "$template" >"$out_dir/copyright.new"
replace_if_changed "$out_dir/copyright"
