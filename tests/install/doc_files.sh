#!/usr/bin/env bash
# The package's changelog and copyright file, written from a made-up history:
# one entry per version with its first-parent subjects, wrapped and dated as
# Debian's tools read them; without that history, one entry from the version.
#   doc_files.sh
source "$(dirname "$0")/lib.sh"
generator=$(cd "$(dirname "$0")/../../packaging" && pwd)/doc-files.sh
template=$(dirname "$generator")/copyright.in
command -v git >/dev/null || {
  echo "git is not installed: skipped"
  exit 77
}
maintainer="Tool Maintainers <tools@example.org>"

# A repository in which each commit has the given date (seconds since 1970).
repo=$work/repo
export GIT_AUTHOR_NAME=Dev GIT_AUTHOR_EMAIL=dev@example.org GIT_COMMITTER_NAME=Dev \
  GIT_COMMITTER_EMAIL=dev@example.org GIT_CONFIG_GLOBAL=/dev/null GIT_CONFIG_SYSTEM=/dev/null
git init -q -b main "$repo"
in_repo() { git -C "$repo" "$@"; }
commit() { # commit EPOCH SUBJECT
  GIT_AUTHOR_DATE="@$1 +0000" GIT_COMMITTER_DATE="@$1 +0000" in_repo commit -q --allow-empty -m "$2"
}
set_version() { printf 'cmake_minimum_required(VERSION 3.25)\nproject(tool VERSION %s LANGUAGES CXX)\n' "$1" \
  >"$repo/CMakeLists.txt" && in_repo add CMakeLists.txt; }

day=86400 start=1577836800 # 2020-01-01
set_version 1.0.0
commit $((start)) "Skeleton"
commit $((start + day)) "A subject long enough to need wrapping: the serial line settings, the CAN bit rate and the acceptance filter"
set_version 1.1.0
commit $((start + 2 * day)) "Version 1.1.0"
in_repo checkout -q -b topic
commit $((start + 3 * day)) "Work on a branch, not listed by itself"
in_repo checkout -q main
GIT_COMMITTER_DATE="@$((start + 4 * day)) +0000" in_repo merge -q --no-ff -m "Merge branch 'topic': the branch as one line" topic
set_version 2.0.0
commit $((start + 800 * day)) "Version 2.0.0"

generate() { # generate SOURCE_DIR OUT_DIR VERSION
  bash "$generator" "$1" "$2" tool "$3" "$maintainer" "Tool Makers" "$template"
}
# entries FILE: "version|date|items" per entry, newest first, items joined by "; ".
entries() {
  zcat "$1" >"$work/changelog"
  dpkg-parsechangelog -l "$work/changelog" --all --format rfc822 2>"$work/parse.err" |
    awk '/^Version: / { version = substr($0, 10) }
      /^Date: / { date = substr($0, 7) }
      /^   \* / { items = items (items == "" ? "" : "; ") substr($0, 6) }
      /^     [^ ]/ { items = items " " substr($0, 6) }
      /^$/ { print version "|" date "|" items; version = items = "" }
      END { if (version != "") print version "|" date "|" items }'
  [[ ! -s $work/parse.err ]] || fail "dpkg-parsechangelog: $(cat "$work/parse.err")"
}

# With the history: one entry per version, the branch as its merge, the dates
# of each version's newest commit, items wrapped within 80 columns.
generate "$repo" "$work/out" 2.0.0
expected="2.0.0|Fri, 11 Mar 2022 00:00:00 +0000|Version 2.0.0
1.1.0|Sun, 05 Jan 2020 00:00:00 +0000|Version 1.1.0; Merge branch 'topic': the branch as one line
1.0.0|Thu, 02 Jan 2020 00:00:00 +0000|Skeleton; A subject long enough to need wrapping: the serial line settings, the CAN bit rate and the acceptance filter"
[[ $(entries "$work/out/changelog.gz") == "$expected" ]] ||
  fail "changelog entries:"$'\n'"$(entries "$work/out/changelog.gz")"$'\n'"expected:"$'\n'"$expected"
long=$(awk 'length > 80' "$work/changelog")
[[ -z $long ]] || fail "lines over 80 columns: $long"
grep -qx ' -- Tool Maintainers <tools@example.org>  Fri, 11 Mar 2022 00:00:00 +0000' "$work/changelog" ||
  fail "no trailer with the maintainer: $(cat "$work/changelog")"
[[ $(tail -c 1 "$work/changelog" | od -An -c | tr -d ' ') == '\n' && -n $(tail -n 1 "$work/changelog") ]] ||
  fail "the changelog does not end with its last trailer"
file "$work/out/changelog.gz" | grep -q 'max compression' || fail "changelog.gz is not gzip -9"
grep -qx 'Copyright: 2020-2022 Tool Makers' "$work/out/copyright" ||
  fail "copyright years from the history: $(cat "$work/out/copyright")"
grep -qx 'Upstream-Name: tool' "$work/out/copyright" || fail "no Upstream-Name: $(cat "$work/out/copyright")"

# Unchanged content is not rewritten: the build does not repack for nothing.
touch -d @1000000000 "$work/out/changelog.gz" "$work/out/copyright"
generate "$repo" "$work/out" 2.0.0
[[ $(stat -c %Y "$work/out/changelog.gz") == 1000000000 && $(stat -c %Y "$work/out/copyright") == 1000000000 ]] ||
  fail "an unchanged changelog or copyright file was rewritten"

# A version not committed yet heads the changelog above the history.
generate "$repo" "$work/ahead" 2.1.0
[[ $(entries "$work/ahead/changelog.gz" | cut -d'|' -f1 | tr '\n' ' ') == "2.1.0 2.0.0 1.1.0 1.0.0 " ]] ||
  fail "uncommitted version: $(entries "$work/ahead/changelog.gz")"

# Without the history: a copy of the tree without .git, and the same tree
# unpacked inside another repository (whose history is not the tool's). One
# entry for the version, dated by SOURCE_DATE_EPOCH or by CMakeLists.txt.
mkdir -p "$work/tarball" "$repo/vendor/tool"
cp "$repo/CMakeLists.txt" "$work/tarball/"
cp "$repo/CMakeLists.txt" "$repo/vendor/tool/"
touch -d @1700000000 "$work/tarball/CMakeLists.txt" "$repo/vendor/tool/CMakeLists.txt"
for case in "tarball|$work/tarball|" "inside another repository|$repo/vendor/tool|" \
  "SOURCE_DATE_EPOCH|$work/tarball|1262304000"; do
  IFS='|' read -r name dir epoch <<<"$case"
  rm -rf "$work/fallback"
  SOURCE_DATE_EPOCH=$epoch generate "$dir" "$work/fallback" 2.0.0
  date=$(date -u -R -d "@${epoch:-1700000000}")
  expected="2.0.0|$date|Version 2.0.0, packed from a source tree without its git history."
  [[ $(entries "$work/fallback/changelog.gz") == "$expected" ]] ||
    fail "$name: $(entries "$work/fallback/changelog.gz"), expected $expected"
  year=$(date -u +%Y -d "@${epoch:-1700000000}")
  grep -qx "Copyright: $year Tool Makers" "$work/fallback/copyright" ||
    fail "$name: copyright year: $(grep Copyright: "$work/fallback/copyright")"
done
echo "doc files: changelog and copyright from a history and without one"
