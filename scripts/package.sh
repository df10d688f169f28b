#!/usr/bin/env bash
# Builds the Debian package of the suite: a Release build with the prefix /usr in
# build-package/ (no tests), then `cpack -G DEB`. Prints the package's path, size, control
# fields and file list; runs lintian when it is installed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" --package
build="${ZELIN_PACKAGE_BUILD:-$root/build-package}"
# Warnings stay warnings, as in any user's build: GCC 12 at -O3 reports false positives
# (a -Wrestrict in std::string concatenation) that the test builds at -O2 do not.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DZELIN_TESTS=OFF -DZELIN_BENCH=OFF -DZELIN_WERROR=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls -t "$build"/zelin-suite_*.deb | head -n 1)"
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" || true
fi
