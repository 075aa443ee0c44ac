# Sourced by scripts: a private Wine prefix for the Windows tests. Call wine_start (after
# xsession_start: Wine's windows need the display), then wine_stop. The prefix lives in a
# temporary folder and goes with wine_stop.
#   - Chinese text: the faces the program asks for map to WenQuanYi Micro Hei, which Wine
#     would otherwise draw as boxes;
#   - Decorated=N: Wine draws window frames itself, so a window's X window is exactly its
#     rectangle and a window capture can be compared with the X screen.
wine_start() {
    WINE_DIR="$(mktemp -d "${TMPDIR:-/tmp}/lumora-wine.XXXXXX")"
    export WINEPREFIX="$WINE_DIR/prefix"
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDEBUG=-all
    # One server for the whole run, started first (a server already running would refuse to
    # become persistent): each program then starts in a fraction of a second. Its output goes
    # nowhere, since it keeps inherited descriptors open until it ends.
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null
    wineboot -i >"$WINE_DIR/wineboot.log" 2>&1
    cat >"$WINE_DIR/setup.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"SimSun"="WenQuanYi Micro Hei"
"NSimSun"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"微软雅黑"="WenQuanYi Micro Hei"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Tahoma"="wqy-microhei.ttc,WenQuanYi Micro Hei"
"MS Shell Dlg"="wqy-microhei.ttc,WenQuanYi Micro Hei"
"MS Shell Dlg 2"="wqy-microhei.ttc,WenQuanYi Micro Hei"
"Microsoft Sans Serif"="wqy-microhei.ttc,WenQuanYi Micro Hei"
"Segoe UI"="wqy-microhei.ttc,WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
REG
    wine regedit /S "$WINE_DIR/setup.reg" >/dev/null 2>&1 </dev/null
}

wine_stop() {
    [ -n "${WINE_DIR:-}" ] || return 0
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINE_DIR"
    WINE_DIR=""
}
