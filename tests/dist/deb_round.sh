#!/usr/bin/env bash
# The Debian package's round, as a person on a fresh Debian 12 takes it: CPack makes the package
# from a build tree; apt installs it; the driver runs from /usr/bin; the desktop finds the entry
# and the icon where it looks and starts the program from the entry, whose window carries the
# entry's name as its class; apt removes it again and nothing is left.
# Usage: deb_round.sh BUILD_DIR WORK_DIR
# Installing needs root: as another user the package is made and inspected, and the round stops
# there, saying so. It refuses to run where orrelune is installed already (it would remove it).
set -euo pipefail
build=$(realpath "$1")
work=$2
rm -rf "$work" && mkdir -p "$work"
work=$(realpath "$work")
fail() { echo "deb round: FAILED: $*" >&2; exit 1; }

version=$("$build/tools/orrelune-sim" --version | sed 's/^orrelune-sim //')
entries=("$build"/dist/*.desktop)
[ ${#entries[@]} -eq 1 ] && [ -f "${entries[0]}" ] || fail "not one desktop entry in $build/dist"
id=$(basename "${entries[0]}" .desktop)
arch=$(dpkg --print-architecture)

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB) >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$work/orrelune_${version}_$arch.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work")"
echo "deb round: $(basename "$deb"), $(du -k "$deb" | cut -f1) kB"

# The control file: the version, dependencies from dpkg-shlibdeps, a short and a long description.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = orrelune ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
for library in libgsl27 libgtk-3-0 libc6 libstdc++6; do
  tr ',' '\n' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$library" || fail "Depends names no $library: $depends"
done
description=$(field Description)
[ "$(grep -c . <<<"$description")" -ge 3 ] || fail "no long description: $description"
dpkg-deb -c "$deb" >"$work/contents"
for file in usr/share/doc/orrelune/copyright usr/share/man/man1/orrelune.1.gz usr/share/man/man1/orrelune-sim.1.gz; do
  grep -q " \./$file\$" "$work/contents" || fail "no $file in the package"
done
echo "deb round: Depends: $depends"

if [ "$(id -u)" -ne 0 ]; then
  echo "deb round: not root, so the package is not installed here (apt-get install needs root)"
  exit 0
fi
if dpkg-query -W -f='${Status}' orrelune 2>/dev/null | grep -q 'ok installed'; then
  fail "orrelune is installed on this machine already; remove it (apt-get remove orrelune) and run this again"
fi

xvfb_pid=
app_pid=
installed=0
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
  if [ "$installed" = 1 ]; then apt-get remove -y -qq orrelune >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

# apt's download user reads the package from a folder anyone may enter.
chmod 755 "$work"
export DEBIAN_FRONTEND=noninteractive
installed=1
apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "apt-get install"; }
echo "deb round: installed"

# The installed driver gives the build's summary line.
got=$(/usr/bin/orrelune-sim --clock 5 --ticks 10)
want=$("$build/tools/orrelune-sim" --clock 5 --ticks 10)
[ "$got" = "$want" ] || fail "/usr/bin/orrelune-sim --clock 5 --ticks 10 gives '$got', not '$want'"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
export NO_AT_BRIDGE=1

# The entry and the icon, found as the desktop finds them; then the program started from the
# entry, as a menu starts it.
lookup=$build/tests/dist/desktop_lookup
"$lookup" "$id" --launch >"$work/lookup" 2>&1 || fail "the desktop does not find it: $(cat "$work/lookup")"
said() { sed -n "s/^$1=//p" "$work/lookup"; }
[ "$(said entry)" = "/usr/share/applications/$id.desktop" ] || fail "the desktop finds the entry $(said entry)"
[ "$(said name)" = Orrelune ] || fail "the entry's name is $(said name)"
[ "$(said exec)" = orrelune ] || fail "the entry runs $(said exec)"
[ "$(said wmclass)" = "$id" ] || fail "the entry expects the window class $(said wmclass)"
for size in 16 48 256; do
  [ "$(said "icon$size")" = "/usr/share/icons/hicolor/${size}x$size/apps/$id.png" ] ||
    fail "the icon at $size is $(said "icon$size")"
done
[ "$(said scalable)" = "/usr/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "the scalable icon is $(said scalable)"

# Its window, by the class the desktop pairs with the entry.
pattern="^${id//./\\.}$"
window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --class "$pattern" 2>/dev/null | head -n1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window of class $id appeared"
# Every window of the program carries the class as it is written (xdotool matches any case).
for other in $(xdotool search --class "$pattern"); do
  class=$(xprop -id "$other" WM_CLASS)
  [ "$class" = "WM_CLASS(STRING) = \"$id\", \"$id\"" ] || fail "window $other's class: $class"
done
app_pid=$(xdotool getwindowpid "$window") || fail "the window names no process"
[ "$(readlink "/proc/$app_pid/exe")" = /usr/bin/orrelune ] || fail "the window is not /usr/bin/orrelune's"
class=$(xprop -id "$window" WM_CLASS)
[ "$class" = "WM_CLASS(STRING) = \"$id\", \"$id\"" ] || fail "the window's class: $class"
for _ in $(seq 100); do [ "$(xdotool getwindowname "$window")" = Orrelune ] && break; sleep 0.1; done
[ "$(xdotool getwindowname "$window")" = Orrelune ] || fail "the window's title is $(xdotool getwindowname "$window")"
kill "$app_pid"
app_pid=
echo "deb round: started from its entry; window of class $id, icon found"

apt-get remove -y -qq orrelune >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "apt-get remove"; }
installed=0
for file in /usr/bin/orrelune /usr/bin/orrelune-sim "/usr/share/applications/$id.desktop" \
  "/usr/share/icons/hicolor/48x48/apps/$id.png" "/usr/share/metainfo/$id.metainfo.xml"; do
  [ ! -e "$file" ] || fail "$file is left after the removal"
done
"$lookup" "$id" >/dev/null 2>&1 && fail "the desktop still finds the entry after the removal"
echo "deb round: removed, nothing left"
rm -rf "$work"
