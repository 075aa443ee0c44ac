#!/usr/bin/env bash
# One walk through lumora.exe under Wine, with the keys and the mouse as a person uses them, on
# the X desktop and in the Wine prefix scripts/test prepares (scripts/lib/wine.sh): the main
# window with its Chinese title; the capture keys with a modifier held capture nothing;
# PrintScreen gives a BMP equal to the X screen and Insert one
# equal to the Wine window in front; a second start shows its box and ends; 退出 in the tray
# menu (or, when trayer gave the icon no room, the same menu in the menu bar) ends the program
# with 0 and leaves the running number N in the registry; with the JPG
# engine a capture is the very file cjpeg -quality 75 -optimize makes of the X screen. Then the
# command line: `--capture` in a Chinese command prompt (code page 936) prints the Chinese path
# readably, and to a file as UTF-8; the end of the session (wineboot --end-session) ends the
# program as 退出 does, with the captures just taken complete and N stored; last, an instance on
# another desktop is told as such within seconds.
# Keys reach Wine only while a Wine window has the focus, so a Wine window of no interest
# (winver, which has nothing that blinks) takes the focus while the main window, whose
# advertising label blinks, is minimised.
set -euo pipefail
exe="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/lumora-wine-walk.XXXXXX")"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}" $(cat "$work"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "wine walk: $*" >&2
    if [ -n "${LUMORA_KEEP_WALK:-}" ]; then  # what the screen showed, for a person to look at
        import -window root "$work/ref/failure.png" 2>/dev/null || true
        xwininfo -root -tree >"$work/ref/windows.txt" 2>/dev/null || true
        cp -r "$work" "$LUMORA_KEEP_WALK"
    fi
    exit 1
}
# wait_for SECONDS COMMAND...: true once COMMAND succeeds.
wait_for() {
    local until=$((SECONDS + $1))
    shift
    while ! "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $until ] || return 1
        sleep 0.2
    done
}
window_named() { xdotool search --name "$1" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_named "$1")" ]; }
# Oldest first: the names hold the time of day, which does not sort as text.
captures() { find "$work" -maxdepth 1 -name "*.$1" -printf "%T@ %p\n" | sort -n | cut -d" " -f2-; }
capture_count() { captures "$1" | wc -l; }
# A loaded machine may hand Wine a key's release after the program's 300 ms repeat: a press can
# then give two captures, as a key held down would. Each check takes the first file of its press.
more_captures_than() { [ "$(capture_count "$2")" -gt "$1" ]; }
start_program() {  # start_program NAME: runs lumora.exe from the work folder, code in NAME.code
    (
        cd "$work"
        wine ./lumora.exe >"$work/$1.log" 2>&1 &
        echo $! >"$work/$1.pid"
        code=0
        wait $! || code=$?
        echo $code >"$work/$1.code"
    ) &
}
# The tray icon is a window of Wine's explorer.exe docked in trayer at the top of the screen
# (beside the empty, 2-pixel-wide slots that icons of ended programs leave).
tray_icon_centre() {
    xwininfo -root -tree | awk '/"explorer.exe"/ { split($(NF-1), size, "x"); split($NF, at, "+")
        if (size[1] + 0 >= 16 && size[2] + 0 >= 16) centre = (at[2] + int(size[1] / 2)) " " \
            (at[3] + int(size[2] / 2)) } END { if (centre != "") print centre }'
}
has_tray_icon() { [ -n "$(tray_icon_centre)" ]; }
# The logo while it plays, the tray menu while it is open: windows of lumora.exe that are
# neither the main window nor a 1x1 helper.
other_windows() {
    xwininfo -root -tree | grep '"lumora.exe"' | grep -v ' 1x1+' | grep -v 'Lumora截图精灵' || true
}
has_menu() { [ -n "$(other_windows)" ]; }
# Start-up is over once the logo has played and gone.
started() { has_window '^Lumora截图精灵v1.10$' && ! has_menu; }
# Chooses 退出, the last item of the menu that just opened, and waits for the program's end.
choose_quit() {  # choose_quit NAME
    local menu w h x y
    menu="$(other_windows | head -n 1 | grep -oE '[0-9]+x[0-9]+\+[0-9]+\+[0-9]+' | head -n 1)"
    IFS='x+' read -r w h x y <<<"$menu"
    xdotool mousemove $((x + w / 3)) $((y + h - 9)) click 1
    wait_for 20 test -s "$work/$1.code" || fail "退出 did not end the program"
    [ "$(cat "$work/$1.code")" = 0 ] || fail "退出 ended the program with $(cat "$work/$1.code")"
}
# The tray icon: its slot in trayer, if trayer left it empty (it does so now and then under
# Wine: the icon is docked but the slot is 2 pixels wide), is given the icon's size first.
open_tray_menu() {
    local xy slot try
    for try in 1 2 3; do
        slot="$(xwininfo -root -tree | awk '/"explorer.exe"/ && / 2x24\+/ { print $1; exit }' || true)"
        [ -z "$slot" ] || xdotool windowsize "$slot" 22 24 windowmove "$slot" 1898 0
        wait_for 30 has_tray_icon || return 1
        xy="$(tray_icon_centre)"
        xdotool mousemove ${xy% *} ${xy#* } click 3
        wait_for 8 has_menu && return 0
    done
    return 1
}
quit_from_tray() {  # quit_from_tray NAME
    if open_tray_menu; then
        choose_quit "$1"
        echo "wine walk: 退出 from the tray menu"
        return
    fi
    # The same menu, from the main window's menu bar (菜单 at its top left).
    echo "wine walk: the tray icon could not be clicked; 退出 from the main window's 菜单 instead"
    local main geometry x y
    main="$(window_named '^Lumora截图精灵v1.10$')"
    xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
    sleep 1
    geometry="$(xwininfo -id "$main" | awk '/Absolute upper-left X/ { x = $NF }
        /Absolute upper-left Y/ { y = $NF } END { print x, y }')"
    x=${geometry% *}
    y=${geometry#* }
    xdotool mousemove $((x + 19)) $((y + 31)) click 1
    wait_for 10 has_menu || fail "neither the tray menu nor the 菜单 menu opened"
    choose_quit "$1"
}
is_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# Gives winver the focus with a click on its text, as a person would: Wine's own idea of the
# foreground window follows a click even when the window manager thinks nothing changed (after
# a capture Wine may hold its tray icon as the foreground window).
focus_winver() {
    local winver try
    winver="$(window_named '^About Wine')"
    for try in 1 2 3 4 5; do
        xdotool mousemove 780 330 click 1
        wait_for 2 is_active "$winver" && break
        xdotool windowactivate --sync "$winver" >/dev/null 2>&1 || true
    done
    is_active "$winver" || fail "winver did not get the focus"
    sleep 0.7
    echo "$winver"
}

cp "$exe" "$work/lumora.exe"
mkdir "$work/ref"  # the pictures to compare with, apart from the captures
# winver first: it also brings up Wine's desktop process, whose tray trayer docks; an icon
# docked while that process is still starting tends to get an empty slot.
wine winver >/dev/null 2>&1 &
pids+=($!)
wait_for 60 has_window '^About Wine' || fail "winver did not start"
xdotool windowmove "$(window_named '^About Wine')" 700 300
sleep 2

# 1. The main window shows its Chinese title.
start_program first
wait_for 60 has_window '^Lumora截图精灵v1.10$' || fail "no main window titled Lumora截图精灵v1.10"
wait_for 60 started || fail "the logo did not end"
main="$(window_named '^Lumora截图精灵v1.10$')"
echo "wine walk: main window shown"
wait_for 30 has_tray_icon || fail "no tray icon"
xdotool windowminimize "$main"
winver="$(focus_winver)"

# 2. The capture keys with Ctrl, Shift, Alt or the Windows key held are other programs'
#    shortcuts (Shift+Insert pastes): no capture. PrintScreen alone: the screen, pixel for pixel.
xdotool key shift+Insert ctrl+Insert ctrl+Print shift+Print alt+Print super+Print
sleep 1.5
[ "$(capture_count bmp)" = 0 ] || fail "a capture key pressed with a modifier made a capture"
echo "wine walk: the capture keys with modifiers captured nothing"
xdotool key Print
wait_for 20 more_captures_than 0 bmp || fail "PrintScreen wrote no BMP"
import -window root "$work/ref/screen.png"
shot="$(captures bmp | head -n 1)"
ae="$(compare -metric AE "$shot" "$work/ref/screen.png" null: 2>&1 || true)"
[ "$ae" = 0 ] || fail "the PrintScreen capture differs from the X screen in $ae pixels"
echo "wine walk: PrintScreen capture equals the X screen"

# 3. Insert: the Wine window in front (Wine draws its frame itself: Decorated=N).
focus_winver >/dev/null
sleep 1
before=$(capture_count bmp)
xdotool key Insert
wait_for 20 more_captures_than "$before" bmp || fail "Insert wrote no BMP"
import -window "$winver" "$work/ref/window.png"
shot="$(captures bmp | sed -n "$((before + 1))p")"
ae="$(compare -metric AE "$shot" "$work/ref/window.png" null: 2>&1 || true)"
[ "$ae" = 0 ] || fail "the Insert capture differs from the focused window in $ae pixels"
echo "wine walk: Insert capture equals the focused Wine window"

# 4. 退出 from the tray menu: exit code 0, and N (the next running number) in the registry.
quit_from_tray first
n="$(wine reg query 'HKCU\Software\Velmora\Krel' /v N 2>/dev/null | tr -d '\r' |
    awk '$1 == "N" && $2 == "REG_DWORD" { print $3 }')"
n=$((${n:-0}))
[ "$n" = $(($(capture_count bmp) + 1)) ] ||
    fail "N in the registry is '$n' after $(capture_count bmp) captures"
echo "wine walk: the program ended with 0; N = $n in the registry"

# 5. The JPG engine: the same bytes as cjpeg of the same screen.
wine reg add 'HKCU\Software\Velmora\Krel-V1.10' /v yinqing /t REG_DWORD /d 1 /f >/dev/null 2>&1
start_program third
wait_for 60 has_window '^Lumora截图精灵v1.10$' || fail "no main window at the third start"
wait_for 60 started || fail "the logo did not end at the third start"
xdotool windowminimize "$(window_named '^Lumora截图精灵v1.10$')"
sleep 0.5
focus_winver >/dev/null
xdotool key Print
wait_for 20 more_captures_than 0 jpg || fail "PrintScreen wrote no JPEG"
import -window root "$work/ref/screen.ppm"
cjpeg -quality 75 -optimize "$work/ref/screen.ppm" >"$work/ref/reference.jpg"
cmp -s "$(captures jpg | head -n 1)" "$work/ref/reference.jpg" ||
    fail "the JPEG differs from cjpeg -quality 75 -optimize of the X screen"
echo "wine walk: the JPEG equals cjpeg -quality 75 -optimize of the X screen"
# 6. A second start shows its box and ends; the one running runs on.
start_program second
wait_for 30 has_window '^您好！$' || fail "a second start showed no box"
# In front with the focus, without help: Return reaches it.
wait_for 5 is_active "$(window_named '^您好！$')" ||
    fail "the second start's box is not the active window"
xdotool key Return
wait_for 20 test -s "$work/second.code" || fail "the second start did not end"
[ -z "$(cat "$work/third.code" 2>/dev/null)" ] || fail "the running instance ended too"
echo "wine walk: a second start showed its box and ended with $(cat "$work/second.code")"

# Esc closes the main window, which ends the program too. (Not the tray menu again: an icon
# added after another was removed, or after a second start, may get an empty slot from trayer
# under Wine, which no click reaches.)
main="$(window_named '^Lumora截图精灵v1.10$')"
for try in 1 2 3; do
    xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
    wait_for 2 is_active "$main" && break
done
sleep 0.5
xdotool key Escape
wait_for 30 test -s "$work/third.code" || fail "Esc on the main window did not end the program"
[ "$(cat "$work/third.code")" = 0 ] || fail "Esc ended the program with $(cat "$work/third.code")"

# 7. The command line, with no instance running (captures go beside the exe: a folder apart).
mkdir "$work/cmd"
cp "$exe" "$work/cmd/lumora.exe"
(cd "$work/cmd" && script -qec "wine cmd /c 'chcp 936 >nul & lumora.exe --capture screen'" \
    /dev/null >"$work/console.txt" 2>&1 </dev/null) || true
name="$(find "$work/cmd" -name '*.[bj][mp][pg]' -printf '%f\n' | head -n 1)"
[ -n "$name" ] || fail "--capture in a command prompt wrote no file"
grep -qF "$name" "$work/console.txt" ||
    fail "the console showed '$(tr -d '\033' <"$work/console.txt")', not the file $name"
(cd "$work/cmd" && wine lumora.exe --capture screen >"$work/piped.txt" 2>&1 </dev/null)
piped="$(tr -d '\r' <"$work/piped.txt")"
[ "${piped##*\\}" = "$(ls -t "$work/cmd" | grep -m1 -v '\.exe$')" ] ||
    fail "the path written to a file is '$piped'"
echo "wine walk: --capture prints the Chinese path to a code-page-936 console and to a file"

# 8. The end of the session, right after three captures: each one complete, N stored.
stored_n() {
    local n
    n="$(wine reg query 'HKCU\Software\Velmora\Krel' /v N 2>/dev/null | tr -d '\r' |
        awk '$1 == "N" && $2 == "REG_DWORD" { print $3 }')"
    echo $((${n:-0}))
}
n_before=$(stored_n)
wine reg add 'HKCU\Software\Velmora\Krel-V1.10' /v yinqing /t REG_DWORD /d 0 /f >/dev/null 2>&1
start_program fourth
wait_for 60 has_window '^Lumora截图精灵v1.10$' || fail "no main window at the fourth start"
wait_for 60 started || fail "the logo did not end at the fourth start"
xdotool windowminimize "$(window_named '^Lumora截图精灵v1.10$')"
sleep 0.5
focus_winver >/dev/null
before=$(capture_count bmp)
xdotool key Print
sleep 0.4
xdotool key Print
sleep 0.4
xdotool key Print
wineboot --end-session >/dev/null 2>&1 </dev/null || true
wait_for 30 test -s "$work/fourth.code" || fail "the end of the session did not end the program"
[ "$(cat "$work/fourth.code")" = 0 ] || fail "the session's end gave $(cat "$work/fourth.code")"
taken=$(($(capture_count bmp) - before))
[ "$taken" -ge 1 ] || fail "no capture before the end of the session"
for shot in $(captures bmp | tail -n "$taken"); do
    size=$(od -An -tu4 -j2 -N4 "$shot" | tr -d ' ')
    [ "$size" = "$(stat -c %s "$shot")" ] || fail "$shot is cut short at the end of the session"
done
[ -z "$(find "$work" -maxdepth 1 -name '.lumora-*')" ] || fail "a hidden part file was left"
[ "$(stored_n)" = $((n_before + taken)) ] ||
    fail "N is $(stored_n) after $taken captures from N = $n_before"
echo "wine walk: the session's end kept all $taken captures and stored N = $(stored_n)"
# 9. An instance on another desktop cannot be asked: said so within seconds, in Windows words.
(cd "$work/cmd" && exec wine explorer /desktop=walk,640x480 lumora.exe >/dev/null 2>&1) &
pids+=($!)
wait_for 60 has_window '^Lumora截图精灵v1.10$' || fail "no Lumora on a second Wine desktop"
sleep 1
start=$(date +%s%N)
code=0
(cd "$work" && wine ./lumora.exe --capture screen >/dev/null 2>"$work/desktop.txt" </dev/null) ||
    code=$?
took=$((($(date +%s%N) - start) / 1000000))
wine taskkill /f /im lumora.exe >/dev/null 2>&1 || true
no_main_window() { ! has_window '^Lumora截图精灵v1.10$'; }
wait_for 20 no_main_window || fail "the other desktop's Lumora did not end"
[ "$code" = 1 ] || fail "a capture asked of another desktop's Lumora ended with $code"
grep -q "another desktop" "$work/desktop.txt" && ! grep -q "session bus" "$work/desktop.txt" ||
    fail "another desktop's Lumora was told as '$(cat "$work/desktop.txt")'"
[ "$took" -lt 3000 ] || fail "the answer about another desktop's Lumora took $took ms"
echo "wine walk: another desktop's instance told in $took ms"

echo "wine walk: passed"
