#!/bin/bash
# Runs one GNOME test executable inside a GNOME desktop of its own (gnome-session.sh).
#   gnome-test.sh TEST PROGRAM TESTS_SOURCE_DIR [TEST ARGS...]
# The desktop runs as an unprivileged user, who may not reach the build folder (a clone may sit
# in a folder only its owner can enter): the test, the program, the rig and the sanitizer
# suppressions are copied to a folder that user owns, removed afterwards, with the stand-in for
# GNOME Settings' shortcuts provider (tests/support/fake_shortcuts_provider.py), which accepts
# the GNOME 48 shortcuts dialog the rig cannot press. The test starts the
# rig again itself when it needs another state of the desktop (LUMORA_GNOME_RIG). Exit 77
# (ctest's skip) only when the desktop itself cannot start, with the reason on stderr.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
test=$1 program=$2 sources=$3
shift 3
user=${GNS_USER:-nobody}
stage=$(mktemp -d /tmp/lumora-gnome-test.XXXXXX) || exit 1
trap 'rm -rf "$stage"' EXIT
cp "$test" "$program" "$(dirname "$program")/lumora-program.so" "$sources/lsan.supp" \
  "$sources/support/fake_shortcuts_provider.py" "$stage/" || exit 1
chown -R "$user" "$stage" && chmod 755 "$stage" || exit 1
export LUMORA_EXECUTABLE="$stage/$(basename "$program")"
export LSAN_OPTIONS="suppressions=$stage/lsan.supp:print_suppressions=0"
export LUMORA_SHORTCUTS_PROVIDER="$stage/fake_shortcuts_provider.py"
export GNS_PASS_ENV="LUMORA_EXECUTABLE LUMORA_SHORTCUTS_PROVIDER ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS QT_LOGGING_RULES"
# The walk starts where a person who once chose Deny is: the store says "no".
export GNS_SCREENSHOT_PERMISSION=no
cd "$stage"
"$here/gnome-session.sh" "$stage/$(basename "$test")" "$@"
status=$?
if [ "$status" -ge 90 ] && [ "$status" -le 99 ]; then
    echo "SKIPPED: the GNOME test desktop could not start (status $status, reason above)" >&2
    exit 77
fi
exit "$status"
