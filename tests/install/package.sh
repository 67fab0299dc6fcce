#!/usr/bin/env bash
# The .deb holds every installed file, with its control fields filled in,
# lintian finds no error or warning in it, and the tool runs from the
# unpacked package.
#   package.sh BUILD_DIR VERSION WITH_CLI(0|1)
# Packs the tree it is given (./test's Debug tree: a Release build here would
# cost minutes); scripts/package packs a Release tree the same way.
source "$(dirname "$0")/lib.sh"
source=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
version=$2
with_cli=$3

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/package/*.deb)
((${#debs[@]} == 1)) || fail "expected one .deb, found ${debs[*]}"
deb=${debs[0]}

listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
expected=(
  ./usr/bin/quillon-config ./usr/bin/quillon-convsim
  ./usr/share/quillon-config/LangCHN.MUL ./usr/share/quillon-config/LangENU.MUL
  ./usr/share/quillon-config/sys/QNdata.adt
  ./usr/share/quillon-config/sys/QNdata.adt.key
  ./usr/share/man/man1/quillon-config.1.gz ./usr/share/man/man1/quillon-cli.1.gz
  ./usr/share/man/man1/quillon-convsim.1.gz
  ./usr/share/doc/quillon-config/copyright ./usr/share/doc/quillon-config/changelog.gz
)
((with_cli == 0)) || expected+=(./usr/bin/quillon-cli)
for size in 48 64 128 256; do
  expected+=("./usr/share/icons/hicolor/${size}x$size/apps/quillon-config.png")
done
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$listing" || fail "the package lacks $path"
done
grep -qx '\./usr/share/applications/.*\.desktop' <<<"$listing" || fail "the package lacks a desktop entry"
grep -qx '\./usr/share/metainfo/.*\.metainfo\.xml' <<<"$listing" || fail "the package lacks the metainfo"
if grep -v '^\./usr/' <<<"$listing" | grep -q .; then fail "files outside /usr: $listing"; fi

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quillon-config ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), not $version"
[[ $(field Maintainer) == *@* ]] || fail "Maintainer: $(field Maintainer)"
[[ -n $(field Description) ]] || fail "no Description"
for library in libqt6widgets6 libsqlcipher0 libc6; do
  [[ $(field Depends) == *"$library"* ]] || fail "Depends lacks $library: $(field Depends)"
done

"$source/packaging/lint-deb.sh" "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian refuses the package"; }

root=$work/root
dpkg-deb -x "$deb" "$root"
doc=$root/usr/share/doc/quillon-config
zcat "$doc/changelog.gz" >"$work/changelog"
[[ $(dpkg-parsechangelog -l "$work/changelog" -S Version) == "$version" ]] ||
  fail "the changelog's latest entry is not $version: $(head -n 1 "$work/changelog")"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' "$doc/copyright" ||
  fail "the copyright file is not machine-readable: $(head -n 1 "$doc/copyright")"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream.log" ||
  { cat "$work/appstream.log" >&2; fail "the metainfo does not validate"; }

before=$(snapshot "$root")
export HOME=$work/home XDG_DATA_HOME=$work/data
mkdir -p "$HOME"
run_window "$root/usr/bin" "$XDG_DATA_HOME/quillon-config"
expect_seeded "$XDG_DATA_HOME/quillon-config" "$root/usr/share/quillon-config"
if ((with_cli)); then
  "$root/usr/bin/quillon-cli" ports >"$work/cli.log" 2>&1 ||
    { cat "$work/cli.log" >&2; fail "quillon-cli ports failed from the package"; }
fi
[[ $(snapshot "$root") == "$before" ]] || fail "something was written into the unpacked package"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes, $(grep -c . <<<"$listing") entries"
