# Helpers of the install and package tests (sourced).
# Each test works in its own temporary folder, removed at exit.

set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-install.XXXXXX")
# Ends the programs this test started and has not waited for.
cleanup() {
  local pid
  for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# wait_for SECONDS COMMAND...: polls COMMAND until it succeeds; false when the
# deadline passes first.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

# Every entry under a folder with its type, mode, size and content digest:
# two snapshots differ when anything was written, added or removed.
snapshot() {
  (cd "$1" && find . -printf '%y %m %s %p\n' | sort &&
    find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}

running() { kill -0 "$1" 2>/dev/null; }
settings_written() { grep -q ShowHelp "$1/sys/System.dt" 2>/dev/null; }

# run_window BIN_DIR PROGRAM_FOLDER: starts the window offscreen with the
# environment in force, waits until its start-up has written the settings
# file in PROGRAM_FOLDER (removed first, so that it is this start's), then
# ends it with SIGTERM (it takes no options and runs until closed). Fails
# when it exits by itself or never writes the file.
run_window() {
  local bin=$1 folder=$2 log=$work/window.log
  rm -f "$folder/sys/System.dt"
  QT_QPA_PLATFORM=offscreen "$bin/quillon-config" >"$log" 2>&1 &
  local pid=$!
  if ! wait_for 60 settings_written "$folder"; then
    running "$pid" || { cat "$log" >&2; fail "the window ended before writing $folder/sys/System.dt"; }
    fail "the window wrote no settings file in $folder within 60 s"
  fi
  running "$pid" || { cat "$log" >&2; fail "the window ended by itself"; }
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  ((status == 128 + 15)) || { cat "$log" >&2; fail "the window ended with status $status, not by SIGTERM"; }
}

# expect_seeded FOLDER DATA_FOLDER: FOLDER holds a copy of each shipped file.
expect_seeded() {
  local file
  for file in LangCHN.MUL LangENU.MUL sys/QNdata.adt; do
    [[ -f $1/$file ]] || fail "$1/$file was not seeded"
  done
  cmp -s "$1/sys/QNdata.adt" "$2/sys/QNdata.adt" || fail "$1/sys/QNdata.adt differs from $2"
}
