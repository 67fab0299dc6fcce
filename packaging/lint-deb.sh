#!/usr/bin/env bash
# Runs Debian's checker on a .deb, prints what it says, and fails on any
# error or warning. With --release it also fails on the informational tags a
# release build must not carry: a hardening feature missing from a binary,
# and the compiler's notes left in one.
#   lint-deb.sh [--release] DEB
set -euo pipefail
release=0
if [[ ${1:-} == --release ]]; then
  release=1
  shift
fi
(($# == 1)) || {
  echo "usage: lint-deb.sh [--release] DEB" >&2
  exit 2
}
deb=$1

# --fail-on none: a non-zero status then means lintian itself failed. Run as
# root, it says so on standard error; that is about the caller, not the
# package.
status=0
report=$(lintian --display-info --fail-on none "$deb" 2>&1) || status=$?
report=$(grep -v '^running with root privileges is not recommended' <<<"$report" || true)
[[ -z $report ]] || printf '%s\n' "$report"
((status == 0)) || {
  echo "lint-deb: lintian failed on $deb (status $status)" >&2
  exit 1
}

refused='^[EW]: '
((release == 0)) || refused="$refused|^I: [^ ]+: (hardening-|binary-has-unneeded-section)"
if grep -Eq "$refused" <<<"$report"; then
  echo "lint-deb: $deb: $(grep -Ec "$refused" <<<"$report") tag(s) above must be mended" >&2
  exit 1
fi
echo "lint-deb: $(basename "$deb") passes lintian$( ((release == 0)) || echo ' as a release')"
