#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 into build-windows/ (statically linked,
# warnings as errors): build-windows/tools/orrelune-sim.exe and build-windows/win/orrelune.exe,
# and the zip that holds both with the licences, build-windows/orrelune-VERSION-win64.zip.
#
# GSL has no MinGW package in Debian: its source package is fetched with a private apt
# configuration (the machine's own is left alone), cross-built once and kept per machine in
# ${ORRELUNE_CACHE:-~/.cache/orrelune}/gsl-mingw-<version>.
#
# With --tests it also builds the model's unit tests, build-windows/tests/sim_tests.exe and
# store_tests.exe, and the driver pictures' picture_tests.exe, against GoogleTest cross-built once
# from Debian's googletest sources.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."

# The windows preset's tree.
build_dir="build-windows"
jobs=$(nproc)
cache=${ORRELUNE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orrelune}
triple=x86_64-w64-mingw32

tests=0
[ "${1:-}" = --tests ] && tests=1

scripts/windows-deps.sh build
if [ "$tests" = 1 ]; then scripts/windows-deps.sh test; fi

# Runs apt-get with deb-src entries for the machine's own Debian archive, and with lists and
# downloads under $1, so that nothing in /etc/apt or /var/lib/apt changes.
private_apt() {
  local dir=$1; shift
  local opts=(-q -o Dir::Etc::sourcelist="$dir/sources.list" -o Dir::Etc::sourceparts="$dir/sources.list.d"
    -o Dir::State="$dir/state" -o Dir::Cache="$dir/cache")
  # As root apt would hand downloads to the _apt user, who cannot write into a private folder.
  [ "$(id -u)" -eq 0 ] && opts+=(-o APT::Sandbox::User=root)
  apt-get "${opts[@]}" "$@"
}

write_source_entries() {
  local dir=$1
  mkdir -p "$dir/sources.list.d" "$dir/state/lists/partial" "$dir/cache/archives/partial"
  # One-line entries: the Debian "deb" lines, as "deb-src".
  { grep -hsE '^deb[[:space:]].*debian' /etc/apt/sources.list /etc/apt/sources.list.d/*.list || true; } |
    sed 's/^deb\([[:space:]]\)/deb-src\1/' >"$dir/sources.list"
  # deb822 entries: each enabled Debian stanza of type deb, as type deb-src.
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)URIs:[^\n]*debian/ && /(^|\n)Types:[^\n]*deb([ \t\n]|$)/ && !/(^|\n)Enabled:[ \t]*no/ {
           sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f" \
      >"$dir/sources.list.d/$(basename "$f")"
  done
  if ! grep -qs . "$dir/sources.list" "$dir"/sources.list.d/*.sources; then
    echo "windows-build: no Debian archive found in /etc/apt to fetch the GSL source package from" >&2
    return 1
  fi
}

# Builds GSL's random-number parts for Windows into $cache/gsl-mingw-<version>; prints the prefix.
# The same source version as the Linux build's libgsl-dev keeps both builds drawing alike.
ensure_gsl() (
  local version prefix work
  version=$(dpkg-query -W -f='${source:Version}' libgsl-dev 2>/dev/null || true)
  if [ -n "$version" ] && [ -d "$cache/gsl-mingw-$version" ]; then
    echo "$cache/gsl-mingw-$version"
    return
  fi

  mkdir -p "$cache"
  work=$(mktemp -d "$cache/gsl-work.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" EXIT
  local start=$SECONDS
  {
    write_source_entries "$work/apt"
    private_apt "$work/apt" update
    (cd "$work" && private_apt "$work/apt" source "gsl${version:+=$version}")
  } >"$work/fetch.log" 2>&1 || { cat "$work/fetch.log" >&2; return 1; }
  version=$(sed -n 's/^Version: //p' "$work"/gsl_*.dsc | head -n1)
  prefix=$cache/gsl-mingw-$version
  if [ -d "$prefix" ]; then
    echo "$prefix"
    return
  fi

  local src build
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'gsl-*' | head -n1)
  build=$work/build
  mkdir -p "$build" "$work/prefix/include/gsl" "$work/prefix/lib"
  echo "windows-build: cross-building GSL $version (once per machine)" >&2
  (
    cd "$build"
    "$src/configure" --host=$triple --disable-shared --prefix="$prefix" \
      CC=$triple-gcc-posix CFLAGS=-O2 >"$work/configure.log" 2>&1 ||
      { cat "$work/configure.log" >&2; exit 1; }
    # Only what the model draws with (generators, distributions and the special functions and
    # error handling they call), not the whole library; cblas because CMake's FindGSL requires it.
    local parts=(gsl utils sys err complex specfunc rng randist cblas) part
    for part in "${parts[@]}"; do
      make -j"$jobs" -C "$part" >>"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log" >&2; exit 1; }
    done
    cp -L gsl/*.h "$work/prefix/include/gsl/"
    {
      echo "create $work/prefix/lib/libgsl.a"
      for part in randist rng specfunc complex err sys; do echo "addlib $part/.libs/libgsl$part.a"; done
      echo "addlib utils/.libs/libutils.a"
      echo save
      echo end
    } | $triple-ar -M
    cp cblas/.libs/libgslcblas.a "$work/prefix/lib/"
    $triple-ranlib "$work/prefix/lib/libgsl.a" "$work/prefix/lib/libgslcblas.a"
  ) >&2
  # Appears complete or not at all, so an interrupted build is redone next time (and a run
  # beside this one that finished first is kept).
  mv -T "$work/prefix" "$prefix" 2>/dev/null || [ -d "$prefix" ]
  echo "windows-build: GSL ready in $((SECONDS - start)) s: $prefix" >&2
  echo "$prefix"
)

# Builds GoogleTest for Windows into $cache/gtest-mingw-<version>; prints the prefix.
ensure_gtest() (
  local version prefix work
  version=$(dpkg-query -W -f='${Version}' googletest)
  prefix=$cache/gtest-mingw-$version
  if [ -d "$prefix" ]; then
    echo "$prefix"
    return
  fi
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/gtest-work.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" EXIT
  echo "windows-build: cross-building GoogleTest $version (once per machine)" >&2
  {
    cmake -S /usr/src/googletest -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$work/prefix"
    cmake --build "$work/build" -j"$jobs"
    cmake --install "$work/build"
  } >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; exit 1; }
  # Its CMake files find the libraries relative to themselves, so the prefix may move.
  mv -T "$work/prefix" "$prefix" 2>/dev/null || [ -d "$prefix" ]
  echo "$prefix"
)

roots=$(ensure_gsl)
if [ "$tests" = 1 ]; then roots="$roots;$(ensure_gtest)"; fi

# The unit tests run under Wine by hand, not through CTest, so test discovery waits for ctest.
options=(-DORRELUNE_TESTS=OFF)
if [ "$tests" = 1 ]; then
  options=(-DORRELUNE_TESTS=ON -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST)
fi
cmake --preset windows -DORRELUNE_MINGW_ROOTS="$roots" "${options[@]}" >/dev/null
cmake --build --preset windows -j"$jobs"
# The zip a Windows user unpacks: both programs and the licences (CPackConfig.cmake names it).
(cd "$build_dir" && cpack -G ZIP >cpack.log 2>&1) || { cat "$build_dir/cpack.log" >&2; exit 1; }

for exe in "$build_dir"/tools/orrelune-sim.exe "$build_dir"/win/orrelune.exe "$build_dir"/tests/sim_tests.exe \
  "$build_dir"/tests/store_tests.exe "$build_dir"/tests/picture_tests.exe "$build_dir"/orrelune-*-win64.zip; do
  [ -f "$exe" ] && echo "windows-build: $exe"
done
exit 0
