#!/bin/bash
# Runs the GNOME and KDE walks on Debian 13 (GNOME 48, Plasma 6) from a machine of another
# release: builds the program and the walks inside the Debian 13 root (scripts/lib/desktop-root.sh,
# built on demand and cached), with that release's Qt, and runs them there with ctest.
#   desktop-root-walks.sh [CTEST ARGS...]
# Exit: ctest's status; 77 when the root cannot be had here (no mmdebstrap, no archive), with
# the reason on stderr. Run as root, like the desktops themselves.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
clone=$(cd "$here/../.." && pwd)
t0=$(date +%s)
if ! root=$("$here/desktop-root.sh" path); then
    echo "SKIPPED: no Debian 13 root for the GNOME 48 and Plasma 6 walks (reason above)" >&2
    exit 77
fi
echo "desktop-root-walks: root $root ($(( $(date +%s) - t0 )) s)"
# Only what the walks need: the program, its loadable part and the two walks. A compiler
# cache shared by every run keeps a second build cheap.
# shellcheck disable=SC2016
"$here/desktop-root.sh" run /bin/bash -c '
    set -e
    cd "$1"; shift
    export LUMORA_BUILD_NAME=asan-debian13
    source scripts/lib/build.sh
    lumora_configure asan
    nice cmake --build "$LUMORA_BUILD_DIR" --target lumora lumora_program lumora_package_docs desktop_gnome_test \
        capture_kde_test > "$LUMORA_BUILD_DIR/walks-build.log" 2>&1 ||
        { tail -30 "$LUMORA_BUILD_DIR/walks-build.log" >&2; exit 1; }
    echo "desktop-root-walks: built in $(( $(date +%s) - $1 )) s"
    shift
    export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export QT_LOGGING_RULES="qt.qpa.*=false"
    ctest --test-dir "$LUMORA_BUILD_DIR" --output-on-failure \
        -R "^(desktop_gnome_test|capture_kde_test)$" "$@"
' desktop-root-walks "$clone" "$(date +%s)" "$@"
status=$?
echo "desktop-root-walks: Debian 13 walks took $(( $(date +%s) - t0 )) s (status $status)"
exit $status
