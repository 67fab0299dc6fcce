#!/usr/bin/env bash
# The installed tool keeps its files in the per-user folder and writes
# nothing under its prefix.
#   installed_tool.sh BUILD_DIR WITH_CLI(0|1)
source "$(dirname "$0")/lib.sh"
build=$1
with_cli=$2

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/quillon-config bin/quillon-convsim share/quillon-config/sys/QNdata.adt \
  share/quillon-config/LangCHN.MUL share/quillon-config/LangENU.MUL; do
  [[ -f $prefix/$f ]] || fail "the install lacks $f"
done
((with_cli == 0)) || [[ -x $prefix/bin/quillon-cli ]] || fail "the install lacks bin/quillon-cli"
desktop-file-validate "$prefix"/share/applications/*.desktop || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >/dev/null ||
  fail "the metainfo does not validate: $(appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml)"
for page in quillon-config quillon-cli quillon-convsim; do
  warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -mandoc -ww -z -Tutf8 2>&1)
  [[ -z $warnings ]] || fail "man page $page: $warnings"
done

chmod -R a-w "$prefix"
before=$(snapshot "$prefix")
export HOME=$work/home XDG_DATA_HOME=$work/data
mkdir -p "$HOME"
folder=$XDG_DATA_HOME/quillon-config
data=$prefix/share/quillon-config

if ((with_cli)); then
  XDG_DATA_HOME=$work/cli-data "$prefix/bin/quillon-cli" ports >"$work/cli.log" 2>&1 ||
    { cat "$work/cli.log" >&2; fail "quillon-cli ports failed"; }
  expect_seeded "$work/cli-data/quillon-config" "$data"
fi

# First start: the per-user folder is made and seeded, the settings land there.
run_window "$prefix/bin" "$folder"
expect_seeded "$folder" "$data"

# Second start: the operator's change to a language file stays.
chmod u+w "$folder/LangCHN.MUL"
printf '[OperatorNotes]\r\nkept=yes\r\n' >>"$folder/LangCHN.MUL"
run_window "$prefix/bin" "$folder"
grep -q '^kept=yes' "$folder/LangCHN.MUL" || fail "the second start replaced the changed LangCHN.MUL"

# The simulator serves a COM port in the same folder: without XDG_DATA_HOME
# that is ~/.local/share/quillon-config.
unset XDG_DATA_HOME
"$prefix/bin/quillon-convsim" --com 7 </dev/null >"$work/convsim.out" 2>"$work/convsim.err" &
convsim=$!
link=$HOME/.local/share/quillon-config/sys/ports/com7
wait_for 30 test -L "$link" || { cat "$work/convsim.err" >&2; fail "quillon-convsim made no $link"; }
expect_seeded "$HOME/.local/share/quillon-config" "$data"
kill -TERM "$convsim"
wait "$convsim" || fail "quillon-convsim did not stop cleanly on SIGTERM"
[[ ! -e $link && ! -L $link ]] || fail "quillon-convsim left $link behind"

# A file where the per-user folder belongs: a clear message, the file kept.
printf 'notes\n' >"$work/in-the-way"
status=0
XDG_DATA_HOME=$work/in-the-way "$prefix/bin/quillon-convsim" </dev/null 2>"$work/bad.err" || status=$?
((status == 1)) || fail "quillon-convsim with a file in the way ended with $status, not 1"
grep -q "is a file, not a folder" "$work/bad.err" || fail "unclear message: $(cat "$work/bad.err")"
[[ $(cat "$work/in-the-way") == notes ]] || fail "the file in the way was changed"

# The window stops at the same problem before it writes anything: it says why
# on standard error and in a message box, which waits for the operator (no
# one here), so the test ends it once the message is out.
export XDG_DATA_HOME=$work/in-the-way
QT_QPA_PLATFORM=offscreen "$prefix/bin/quillon-config" >/dev/null 2>"$work/bad-window.err" &
window=$!
said_why() { grep -q "is a file, not a folder" "$work/bad-window.err"; }
wait_for 60 said_why || { cat "$work/bad-window.err" >&2; fail "the window did not say why it stops"; }
kill -TERM "$window"
wait "$window" || true
[[ $(cat "$work/in-the-way") == notes ]] || fail "the window changed the file in the way"
unset XDG_DATA_HOME

[[ $(snapshot "$prefix") == "$before" ]] || fail "something was written under the prefix"
echo "installed tool: per-user folder seeded and kept, nothing written under the prefix"
