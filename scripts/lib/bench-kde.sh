# Sourced by scripts/bench: kde_speed, the screen capture on KDE Plasma through KWin's
# ScreenShot2 (raw pixels through a pipe) against the Screenshot portal (a PNG file), each
# answered by a running instance, in the KDE test desktop (kde-session.sh). Needs
# LUMORA_BUILD_DIR (a built release tree) and runs as root, as the desktop does.
kde_speed() {
    local runs=15 stage figures root="$PWD" user=${KDS_USER:-nobody}
    echo
    echo "== KDE Plasma (headless KWin, 1920x1080): lumora --capture screen to a complete BMP," \
        "medians of $runs"
    # The desktop runs as an unprivileged user, who may not reach the build folder.
    stage="$(mktemp -d /tmp/lumora-bench-kde.XXXXXX)"
    cp "$root/bench/kde_capture_cost.py" "$stage/"
    if ! cmake --install "$LUMORA_BUILD_DIR" --prefix "$stage/prefix" >/dev/null; then
        echo "  skipped: the release tree could not be installed"
        rm -rf "$stage"
        return
    fi
    chown -R "$user" "$stage" && chmod 755 "$stage"
    if figures="$(cd "$stage" &&
        "$root/scripts/lib/kde-session.sh" python3 "$stage/kde_capture_cost.py" "$stage/prefix" "$runs")"; then
        read -r kwin portal kwin_alone portal_alone <<<"$(tail -n 1 <<<"$figures")"
        awk -v k="$kwin" -v p="$portal" -v ka="$kwin_alone" -v pa="$portal_alone" 'BEGIN {
            printf "  beside the running program:  KWin (pipe) %7.1f ms   portal (PNG file) %7.1f ms   ratio %.2f (target <= 0.50)\n", k, p, k / p
            printf "  the command alone:           KWin (pipe) %7.1f ms   portal (PNG file) %7.1f ms   ratio %.2f\n", ka, pa, ka / pa }'
    else
        echo "  skipped: the KDE desktop or a capture in it failed (reason above)"
    fi
    rm -rf "$stage"
}
