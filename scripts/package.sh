#!/usr/bin/env bash
# Builds the Debian packages libzrdevice2, libzrdevice-dev and zrdevice-tools with CPack, in a tree
# of their own (build-package/) configured for /usr with Debian's build flags, and checks them with
# lintian, which fails on errors. The packages land in build-package/packages/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

version=$(sed -n 's/^project(ZRDevice VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
logged=$(dpkg-parsechangelog -l cmake/debian/changelog -S Version)
if [ "$version" != "$logged" ]; then
    echo "cmake/debian/changelog ends at $logged, the project is at $version: add the release's entry" >&2
    exit 1
fi

eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_INSTALL_RPATH=ON -DZRDEVICE_TRANSLATIONS_INSTALL_DIR=share/zrdevice/translations \
    -DZRDEVICE_BUILD_TESTS=OFF -DZRDEVICE_BENCHMARKS=OFF >/dev/null
cmake --build build-package -j2
rm -rf build-package/packages
cpack --config build-package/CPackConfig.cmake -B build-package/packages >/dev/null
lintian --fail-on error build-package/packages/*.deb
ls -l build-package/packages/*.deb
