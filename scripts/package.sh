#!/usr/bin/env bash
# Builds the Debian packages build/orvane-pellwick_<version>_<arch>.deb (the server) and
# build/orvane-pellwick-desktop_<version>_<arch>.deb (the window) and prints their paths,
# one a line, the server's first.
# Only what the package holds is built (no tests, no benchmarks), in build-package/,
# through ccache when it is installed: that folder lies beside build/, so with paths taken
# relative to the checkout both builds share the cache.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2

BUILD=build-package
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_WERROR=ON \
  -DBUILD_TESTING=OFF -DPW_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$BUILD" -j "$(nproc)" >&2
mkdir -p build
(cd "$BUILD" && cpack -G DEB -B "$OLDPWD/build" >&2)

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$BUILD/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
debs=()
for name in orvane-pellwick orvane-pellwick-desktop; do
  deb=build/${name}_${version}_$arch.deb
  [ -f "$deb" ] || { echo "package.sh: $deb was not written" >&2; exit 1; }
  debs+=("$PWD/$deb")
done
rm -rf build/_CPack_Packages
printf '%s\n' "${debs[@]}"
