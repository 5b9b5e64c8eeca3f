#!/usr/bin/env bash
# Builds the program as scripts/run.sh does and makes its Debian package,
# build-app/orrelune_VERSION_ARCH.deb, for `apt-get install ./build-app/orrelune_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package
cmake --preset app >/dev/null
cmake --build --preset app -j"$(nproc)"
(cd build-app && cpack -G DEB >cpack.log 2>&1) || { cat build-app/cpack.log >&2; exit 1; }
version=$(build-app/tools/orrelune-sim --version | sed 's/^orrelune-sim //')
echo "build-app/orrelune_${version}_$(dpkg --print-architecture).deb"
