#!/bin/bash
# Runs one Wayland test executable inside a Wayland desktop of its own (wayland-session.sh).
#   wayland-test.sh PORTAL TEST PROGRAM TESTS_SOURCE_DIR [TEST ARGS...]
# PORTAL 1 gives the desktop its portals, 0 none. The desktop runs as an unprivileged user, who
# may not reach the checkout or the build folder (a clone under root's home, or in any 0700
# folder): the test, the program, the sanitizer suppressions and the stand-in portal
# (tests/support/fake_portal.py) are copied into a folder that user owns, removed afterwards.
# Exit 77 (ctest's skip) only when the desktop itself cannot start, with the reason on stderr.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
portal=$1 test=$2 program=$3 sources=$4
shift 4
if [ "$(id -u)" = 0 ]; then
    user=${WLS_USER:-nobody}
else
    user=$(id -un)
fi
stage=$(mktemp -d /tmp/lumora-wayland-test.XXXXXX) || exit 1
trap 'rm -rf "$stage"' EXIT
cp "$test" "$program" "$(dirname "$program")/lumora-program.so" "$sources/lsan.supp" \
  "$sources/support/fake_portal.py" "$stage/" || exit 1
chown -R "$user:$(id -g "$user")" "$stage" || exit 1
chmod -R go-w "$stage"
export LUMORA_EXECUTABLE="$stage/$(basename "$program")" LUMORA_TEST_PORTAL="$portal"
export LUMORA_FAKE_PORTAL="$stage/fake_portal.py"
export LSAN_OPTIONS="suppressions=$stage/lsan.supp:print_suppressions=0"
export WLS_PASS_ENV="LUMORA_EXECUTABLE LUMORA_TEST_PORTAL LUMORA_FAKE_PORTAL ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS QT_LOGGING_RULES"
cd "$stage"
WLS_USER="$user" WLS_PORTAL="$portal" "$here/wayland-session.sh" "$stage/$(basename "$test")" "$@"
status=$?
if [ "$status" -ge 90 ] && [ "$status" -le 99 ]; then
    echo "SKIPPED: the Wayland test desktop could not start (status $status, reason above)" >&2
    exit 77
fi
exit "$status"
