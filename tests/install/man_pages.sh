#!/usr/bin/env bash
# The man pages keep up with the programs: every option and command that
# `quillon-cli help` lists is an entry of quillon-cli(1)'s OPTIONS or
# COMMANDS, every field of `quillon-cli help report` is an entry of its REPORT
# FILE section, every option of `convsim --help` is an entry of
# quillon-convsim(1)'s OPTIONS. (installed_tool has groff check the pages.)
#   man_pages.sh QUILLON_CLI CONVSIM MAN_SOURCE_DIR
source "$(dirname "$0")/lib.sh"
cli=$1 convsim=$2 man=$3

# The page's source as plain words: roff's escaped hyphens and font changes
# removed.
plain() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$1"; }

# section PAGE NAME: the source lines of the section .SH NAME.
section() {
  plain "$1" | awk -v name="$2" '/^\.SH/ { inside = ($0 == ".SH " name || $0 == ".SH \"" name "\"") ; next }
                                 inside'
}

# tags PAGE NAME: the words of the entries' tags (.TP, .TQ) in a section,
# one a line, without their macro, quotes and commas.
tags() {
  section "$1" "$2" | awk '/^\.T[PQ]/ { tag = 1; next }
    tag { tag = 0; sub(/^\.[A-Z]+ +/, ""); gsub(/["=,]/, " "); n = split($0, w, / +/);
          for (i = 1; i <= n; i++) if (w[i] != "") print w[i] }'
}

# options HELP_TEXT: the long options a help text names, once each.
options() { grep -oE -- '--[a-z][a-z-]*' <<<"$1" | sort -u; }

missing=()
# expect_in WHAT HAVE WANTED...: each WANTED word is a line of HAVE.
expect_in() {
  local what=$1 have=$2 word
  shift 2
  for word in "$@"; do grep -qxF -- "$word" <<<"$have" || missing+=("$what: $word"); done
}

help=$("$cli" help) || fail "quillon-cli help failed"
commands=$(awk '/^commands:/ { inside = 1; next } /^$/ { inside = 0 } inside && /^  [a-z]/ { print $1 }' <<<"$help")
[[ -n $commands ]] || fail "no commands found in quillon-cli help"
cli_page=$man/quillon-cli.1.in
expect_in "quillon-cli(1) OPTIONS lacks" "$(tags "$cli_page" OPTIONS)" $(options "$help")
expect_in "quillon-cli(1) COMMANDS lacks" "$(tags "$cli_page" COMMANDS)" $commands

fields=$("$cli" help report | awk '/^fields:/ { inside = 1; next } inside && /^  [a-zA-Z]/ { print $1 }')
[[ -n $fields ]] || fail "no fields found in quillon-cli help report"
expect_in "quillon-cli(1) REPORT FILE lacks the field" "$(tags "$cli_page" "REPORT FILE")" $fields

convsim_help=$("$convsim" --help) || fail "convsim --help failed"
expect_in "quillon-convsim(1) OPTIONS lacks" "$(tags "$man/quillon-convsim.1.in" OPTIONS)" \
  $(options "$convsim_help")

((${#missing[@]} == 0)) || fail "$(printf '%s\n' "${missing[@]}")"

echo "man pages: $(wc -w <<<"$(options "$help") $commands $fields") quillon-cli words documented"
