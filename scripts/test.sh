#!/usr/bin/env bash
# Installs what is missing, builds three times and runs the tests:
#   build-asan/     AddressSanitizer + UndefinedBehaviorSanitizer, unit tests only
#   build-package/  the Debian packages (scripts/package.sh), checked by scripts/check-package.sh
#   build/          the normal build, every test (unit, integration, fuzz)
# The last lines printed are CTest's summary of the full suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)

echo "== sanitizer build (unit tests)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPW_SANITIZE=ON -DPW_WERROR=ON -DPW_BENCH=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir build-asan -L unit -j "$JOBS" --output-on-failure --timeout 300

# A failed package check does not keep the suite from running; it fails the run at the end.
echo "== Debian package"
package_failed=0
# package.sh prints the server package's path, then the desktop one's.
if debs=$(bash scripts/package.sh); then
  mapfile -t debs <<<"$debs"
  bash scripts/check-package.sh "${debs[@]}" || package_failed=1
else
  package_failed=1
fi

echo "== full build (all tests)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_WERROR=ON >/dev/null
cmake --build build -j "$JOBS"
ctest --test-dir build -j "$JOBS" --output-on-failure --timeout 600
if ((package_failed)); then
  echo "== the Debian package failed its check (see '== Debian package' above)"
  exit 1
fi
