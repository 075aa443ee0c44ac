#!/bin/bash
# Runs one KDE test executable inside a KDE Plasma Wayland desktop of its own (kde-session.sh),
# against Lumora installed as a person installs it (`cmake --install` into a prefix).
#   kde-test.sh TEST BUILD_DIR TESTS_SOURCE_DIR [TEST ARGS...]
# The desktop runs as an unprivileged user, who may not reach the build folder (a clone in a
# 0700 folder): the test, the installed tree and the sanitizer suppressions go to a folder that
# user owns, removed afterwards. Exit 77 (ctest's skip) only when the desktop itself cannot
# start, with the reason on stderr.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
test=$1 build=$2 sources=$3
shift 3
user=${KDS_USER:-nobody}
stage=$(mktemp -d /tmp/lumora-kde-test.XXXXXX) || exit 1
trap 'rm -rf "$stage"' EXIT
cp "$test" "$sources/lsan.supp" "$stage/" || exit 1
cmake --install "$build" --prefix "$stage/prefix" > "$stage/install.log" 2>&1 ||
    { cat "$stage/install.log" >&2; exit 1; }
chown -R "$user" "$stage" && chmod 755 "$stage" || exit 1
export LUMORA_PREFIX="$stage/prefix"
export LSAN_OPTIONS="suppressions=$stage/lsan.supp:print_suppressions=0"
export KDS_PASS_ENV="LUMORA_PREFIX ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS QT_LOGGING_RULES"
export KDS_TRAY=1
cd "$stage"
"$here/kde-session.sh" "$stage/$(basename "$test")" "$@"
status=$?
if [ "$status" -ge 90 ] && [ "$status" -le 99 ]; then
    echo "SKIPPED: the KDE test desktop could not start (status $status, reason above)" >&2
    exit 77
fi
exit "$status"
