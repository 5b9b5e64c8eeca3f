#!/usr/bin/env bash
# Builds the Windows programs and the model's unit tests with MinGW-w64 and checks them under
# Wine: the unit tests pass, the headless driver agrees with the Linux one, the zip holds both
# programs and the licences and its driver runs, and the program passes its window scenarios in Xvfb.
# Needs the Linux driver: build/tools/orrelune-sim, built by scripts/test.sh before it calls
# this (another one can be named in ORRELUNE_LINUX_DRIVER).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

scripts/windows-deps.sh test
scripts/windows-build.sh --tests

# Statically linked: the programs may need only DLLs that every Windows has.
for exe in build-windows/tools/orrelune-sim.exe build-windows/win/orrelune.exe; do
  others=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    grep -viE '^(kernel32|user32|gdi32|msvcrt|ucrtbase|api-ms-win-crt-.*)\.dll$' || true)
  if [ -n "$others" ]; then
    echo "windows-test: $exe needs DLLs that are not part of Windows: $others" >&2
    exit 1
  fi
done

linux_driver=${ORRELUNE_LINUX_DRIVER:-build/tools/orrelune-sim}
if [ ! -x "$linux_driver" ]; then
  echo "windows-test: no Linux driver at $linux_driver; build it first (cmake -S . -B build && cmake --build build)" >&2
  exit 1
fi
# The model's unit tests, built for Windows: they also run against the real C runtime's rand and
# srand; the pictures' tests draw through the real GDI. The model's tests run again with the kernels
# capped, as on processors without AVX-512 or vector kernels.
echo "windows-test: unit tests under Wine"
(
  # shellcheck source=tests/windows/wine-env.sh
  . tests/windows/wine-env.sh "$PWD/build-windows/wineprefix"
  cd build-windows/tests
  wine_run ./orrelune-machine.exe | tr -d '\r'
  wine_run ./sim_tests.exe --gtest_brief=1 | tr -d '\r'
  for level in avx2 scalar; do
    echo "windows-test: unit tests with the kernels capped at $level"
    ORRELUNE_TEST_KERNELS=$level wine_run ./sim_tests.exe --gtest_brief=1 | tr -d '\r'
  done
  wine_run ./store_tests.exe --gtest_brief=1 | tr -d '\r'
  wine_run ./picture_tests.exe --gtest_brief=1 | tr -d '\r'
)

tests/windows/agreement.sh "$linux_driver" build-windows/tools/orrelune-sim.exe build-windows/agreement \
  build-windows/wineprefix
zips=(build-windows/orrelune-*-win64.zip)
[ ${#zips[@]} -eq 1 ] || { echo "windows-test: not one zip in build-windows: ${zips[*]}" >&2; exit 1; }
tests/windows/zip_test.sh "${zips[0]}" "$linux_driver" build-windows/zip build-windows/wineprefix
tests/windows/e2e.sh build-windows/win/orrelune.exe build-windows/tools/orrelune-sim.exe build-windows/e2e \
  build-windows/wineprefix

echo "windows-test: passed in $((SECONDS - start)) s"
