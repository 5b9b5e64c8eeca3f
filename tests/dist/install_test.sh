#!/usr/bin/env bash
# `cmake --install` of a build tree into a scratch root, checked as a desktop and its validators
# would see it: every file where it belongs, the desktop entry and the AppStream metadata valid and
# naming one application id, the icons at their sizes, the manual pages clean and the driver's
# listing the options its --help lists.
# Usage: install_test.sh BUILD_DIR WORK_DIR APP_ID VERSION
set -u
build=$1
work=$2
id=$3
version=$4
root=$work/root
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }
usr=$root/usr

sizes=(16 24 32 48 64 128 256 512)
expected=(bin/orrelune bin/orrelune-sim "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
  share/doc/orrelune/LICENSE share/doc/orrelune/copyright share/man/man1/orrelune.1.gz
  share/man/man1/orrelune-sim.1.gz "share/icons/hicolor/scalable/apps/$id.svg")
for size in "${sizes[@]}"; do expected+=("share/icons/hicolor/${size}x$size/apps/$id.png"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$usr" && find . -type f | sed 's|^\./||' | sort) >"$work/files.diff" ||
  fail "installed files (- expected, + installed): $(cat "$work/files.diff")"

# The licence is the GPL's own text.
if [ -f /usr/share/common-licenses/GPL-3 ]; then
  cmp -s "$usr/share/doc/orrelune/LICENSE" /usr/share/common-licenses/GPL-3 || fail "LICENSE is not the GPL-3 text"
fi

# The entry: valid (a hint is no fault), and naming the installed program and the same id throughout.
entry=$usr/share/applications/$id.desktop
if ! desktop-file-validate "$entry" >"$work/entry.log" 2>&1 || grep -qE '(error|warning):' "$work/entry.log"; then
  fail "desktop-file-validate: $(cat "$work/entry.log")"
fi
key() { sed -n "s/^$1=//p" "$entry"; }
[ "$(key Name)" = Orrelune ] || fail "Name=$(key Name)"
[ -n "$(key Comment)" ] || fail "no Comment"
[ "$(key Categories)" = "Education;Science;Physics;" ] || fail "Categories=$(key Categories)"
[ -x "$usr/bin/$(key Exec)" ] || fail "Exec=$(key Exec) is no installed program"
[ "$(key Icon)" = "$id" ] || fail "Icon=$(key Icon), not $id"
[ "$(key StartupWMClass)" = "$id" ] || fail "StartupWMClass=$(key StartupWMClass), not $id"

# The metadata, with the entry and the icons beside it as a software centre finds them.
appstreamcli validate-tree --no-net --strict "$root" >"$work/metainfo.log" 2>&1 ||
  fail "appstreamcli validate-tree: $(cat "$work/metainfo.log")"
metainfo=$usr/share/metainfo/$id.metainfo.xml
grep -q "<id>$id</id>" "$metainfo" || fail "the metadata's id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the metadata launches no $id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata's release is not $version"

# Each picture of the icon has its folder's size, and shows the drawing: white with a black disc
# at the middle, nothing in the corners.
for size in "${sizes[@]}"; do
  png=$usr/share/icons/hicolor/${size}x$size/apps/$id.png
  [ -f "$png" ] || continue
  got=$(identify -format '%wx%h' "$png" 2>&1)
  [ "$got" = "${size}x$size" ] || fail "icon $size: $got"
  [ "$size" -ge 32 ] || continue
  middle=$(convert "$png" -format "%[pixel:p{$((size * 17 / 32)),$((size * 18 / 32))}]" info:)
  corner=$(convert "$png" -format '%[fx:p{0,0}.a]' info:)
  [ "$middle" = "srgba(0,0,0,1)" ] || [ "$middle" = black ] || fail "icon $size: the middle is $middle, not black"
  [ "$corner" = 0 ] || fail "icon $size: the corner is not transparent ($corner)"
done

# The manual pages: groff finds nothing to warn about; the driver's lists what its --help lists.
for page in orrelune orrelune-sim; do
  MANWIDTH=100 man --warnings=all -l "$usr/share/man/man1/$page.1.gz" >"$work/$page.txt" 2>"$work/$page.err" ||
    fail "man $page exits $?"
  [ ! -s "$work/$page.err" ] || fail "man $page: $(cat "$work/$page.err")"
  grep -q "^Orrelune $version " "$work/$page.txt" || fail "man $page does not name version $version"
done
# listed INDENT: the options named at that indent, with their operands.
listed() { sed -n "s/^$1\(--[a-z-]*\(  *[A-Z][A-Z]*\)*\).*/\1/p" | tr -s ' '; }
"$usr/bin/orrelune-sim" --help | listed '  ' >"$work/help-options"
sed -n '/^OPTIONS/,/^[A-Z]/p' "$work/orrelune-sim.txt" | listed '       ' >"$work/man-options"
[ -s "$work/help-options" ] || fail "--help lists no options"
diff "$work/help-options" "$work/man-options" >"$work/options.diff" ||
  fail "the manual page's options differ from --help's (< --help, > man): $(cat "$work/options.diff")"

# The installed driver runs and knows its version.
[ "$("$usr/bin/orrelune-sim" --version)" = "orrelune-sim $version" ] || fail "the installed driver's version"
"$usr/bin/orrelune-sim" --clock 5 --ticks 10 | grep -q '^ticks=10 ' || fail "the installed driver does not run"

[ "$failures" -eq 0 ] || exit 1
rm -rf "$work"
echo "install: every file in place and valid"
