#!/usr/bin/env bash
# Whole games in real XBoard, headless under Xvfb, through the bridge and the
# emulated device (stockfish):
#   1. the bridge as XBoard's first engine, White, against fairymax, to a result;
#   2. a person against the device as Black and 3. as White, moves typed into
#      XBoard's own move box with xdotool, each with a move the device refuses;
#   4. and 5. a finished game in each of those modes, from a set-up position.
#   6. and 7. sorvanite-cecp2 in XBoard's own protocol 2, as White and as Black,
#      against fairymax to a result.
#   8. to 18. sorvanite-cecp2 in gnome-chess, PyChess, DreamChess, eboard,
#      Knights (two games in one Knights) and Tagua, a whole game with the
#      device as Black and one with the device as White in each, moves
#      clicked on the GUI's board. A GUI that is not installed is left out.
#   Refusals (group takeback), as rows: a take-back and a promotion to a
#      knight in XBoard, gnome-chess, PyChess and Knights (sorvanite-cecp2),
#      and in XBoard through polyglot and gnome-chess over UCI
#      (sorvanite-uci), and a knight promotion in Scid: each must end the
#      way that GUI can show it, and the next game must play.
#   21. to 26. sorvanite-uci: in XBoard through polyglot against fairymax, and
#      in Scid's serious game and gnome-chess against a person, the device as
#      White and as Black in each, to a result.
#   WinBoard under Wine: the Windows programs against each other, each as
#      White and as Black, and a person's take-back and game against
#      sorvanite-cecp2.exe (SORVANITE_WINDOWS_GUI; left out where unset).
# usage: xboard_games.sh BRIDGE CECP2 UCI EMULATOR GAME_CHECK ARTIFACT_DIR
# BRIDGE, CECP2 and UCI open "com1" in their working directory. Leaves PGNs,
# transcripts and screenshots in ARTIFACT_DIR. SORVANITE_GUI_GAMES, a regular
# expression, plays only the groups whose names match (xboard, cecp2,
# gnome-chess, pychess, dreamchess, tagua, eboard, knights, takeback, uci,
# winboard).
# Every game is played, even after one fails; a line per game says how it
# went, and the exit status is 1 if any failed. Waits are for events (a
# window, a record in the transcript) with long limits, so that a busy
# machine only makes them slower.
set -euo pipefail
bridge=$1 cecp2=$2 uci=$3 emulator=$4 check=$5 out=$6

# playing GROUP: whether this run plays that group of games.
playing() { [[ $1 =~ ${SORVANITE_GUI_GAMES:-.} ]]; }

for tool in xboard Xvfb xdpyinfo xdotool fairymax stockfish import; do
    if ! PATH=/usr/games:$PATH command -v "$tool" >/dev/null; then
        echo "xboard_games: $tool is missing (apt-get install xboard xvfb x11-utils xdotool fairymax stockfish imagemagick)" >&2
        exit 1
    fi
done

# reap_leftovers: every process started with our scratch home (a GUI's
# session bus, its desktop portals, an engine) is killed, and whatever they
# mounted below the artifacts (the document portal's FUSE mount) unmounted,
# so that a failed game cannot break the next run.
reap_leftovers() {
    local pid mount
    for pid in $(grep -l -a -F "HOME=$out/home" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3); do
        [ "$pid" != $$ ] && [ "$pid" != "${xvfb:-}" ] && kill -9 "$pid" 2>/dev/null || true
    done
    awk -v top="$out/" 'index($2, top) == 1 { print $2 }' /proc/mounts | sort -r | while read -r mount; do
        umount -l "$mount" 2>/dev/null || fusermount -u -z "$mount" 2>/dev/null || true
    done
}
reap_leftovers
rm -rf "$out"
mkdir -p "$out/home"
export PATH=/usr/games:$PATH HOME=$out/home
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    reap_leftovers
    wait 2>/dev/null || true
}
trap cleanup EXIT

display=
for n in $(seq 70 99); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
done
# -noreset: without it the server resets whenever its last client leaves (as
# happens between games) and refuses connections for a moment.
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
pids+=($xvfb)
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "xboard_games: Xvfb on $display does not answer" >&2; exit 1; }

fail() { echo "xboard_games: $*" >&2; exit 1; }

# game NAME COMMAND...: plays one game (or one GUI's run of games) in a
# subshell of its own, so that a failure ends only that game; whatever it
# left running is ended before the next.
results=()
failures=0
game() {
    local name=$1 start=$SECONDS status=0
    shift
    set +e
    ( set -e; "$@" )
    status=$?
    set -e
    local verdict=pass
    if [ "$status" -ne 0 ]; then
        verdict=FAIL
        failures=$((failures + 1))
        reap_leftovers
    fi
    results+=("$(printf '%-24s %-5s %4ss' "$name" "$verdict" $((SECONDS - start)))")
}

# start_device DIR ARGS...: the emulated device on DIR/com1.
start_device() {
    local dir=$1; shift
    mkdir -p "$dir"
    "$emulator" --link "$dir/com1" "$@" >"$dir/device.out" 2>&1 </dev/null &
    pids+=($!)
    device_pid=$!
    for _ in $(seq 600); do grep -q serving "$dir/device.out" && return; sleep 0.05; done
    fail "the device did not start: $(cat "$dir/device.out")"
}

# XBoard interrupts its engines before nearly every move. Start it with
# SIGINT at its default, as a desktop would, so the bridge meets the real thing.
# Run it in the background ("xboard_cmd ... &"): it replaces the subshell, so
# $! is XBoard itself.
xboard_cmd() {
    exec env --default-signal=INT xboard -fcp "$bridge" -firstProtocolVersion 1 \
        -saveSettingsOnExit false -startupMessage "" "$@"
}

# records DIR PATTERN: how many records of DIR's transcript match PATTERN
# (an extended regular expression); 0 before there is a transcript.
records() {
    if [ -f "$1/zormlog.txt" ]; then grep -a -c -E "$2" "$1/zormlog.txt" || true; else echo 0; fi
}

# wait_records DIR PATTERN N WHAT: waits until N records match.
wait_records() {
    for _ in $(seq 900); do [ "$(records "$1" "$2")" -ge "$3" ] && return; sleep 0.1; done
    fail "$1: expected $3 $4, transcript:"$'\n'"$(cat "$1/zormlog.txt" 2>/dev/null)"
}

# wait_replies DIR N: the device has given N answers.
wait_replies() { wait_records "$1" '^ <-- ' "$2" "device answers"; }

# ended_in_order DIR: XBoard sends "quit" and SIGTERM right after it; the
# run must still end in order.
ended_in_order() {
    cmp -s <(tail -c 24 "$1/zormlog.txt") <(printf '==> quit\r\nSession ends\r\n') \
        || fail "$1: the transcript does not end with quit and Session ends: $(tail -c 120 "$1/zormlog.txt" | od -c)"
}

# main_window CLASS [SEARCH_OPTION...]: a GUI's main window, found by class
# and size (titles change, and the KDE GUIs' windows are not reported as
# viewable): its window of that class wider than 300 pixels that is not an
# "Error" popup.
main_window() {
    local id
    for _ in $(seq 150); do
        for id in $(xdotool search "${@:2}" --class "$1" 2>/dev/null); do
            [ "$(xdotool getwindowname "$id" 2>/dev/null)" = Error ] && continue
            if [ "$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')" -gt 300 ] 2>/dev/null; then
                echo "$id"
                return
            fi
        done
        sleep 0.1
    done
    fail "$1: no main window"
}

# XBoard's board window: its visible main window (its title changes: the
# engine, a position file, "White vs. Black").
board_window() { main_window xboard --onlyvisible; }

# Dismisses XBoard's error popups, which open at (0,0) and take the focus.
dismiss_popups() {
    local id
    for id in $(xdotool search --onlyvisible --name '^Error$' 2>/dev/null); do
        xdotool windowfocus --sync "$id" key Return 2>/dev/null || true
    done
}

# type_move MOVE: as a person would, into XBoard's move type-in box.
type_move() {
    local window
    window=$(board_window)
    xdotool windowfocus --sync "$window"
    xdotool type --delay 40 "$1"
    xdotool key Return
}

# typed_move DIR MOVE: type_move, made sure of: typed again once if the move
# did not reach the engine (as a move, or at the end of a UCI position).
typed_move() {
    local pattern="^==> (usermove |position .* )?$2"$'\r' before
    before=$(records "$1" "$pattern")
    type_move "$2"
    for _ in $(seq 30); do [ "$(records "$1" "$pattern")" -gt "$before" ] && return; sleep 0.1; done
    echo "$1: $2 did not reach the engine, typing it again" >&2
    type_move "$2"
}

# Quits XBoard as a person would (File > Quit), which saves the game.
stop_xboard() {
    local window
    window=$(board_window)
    xdotool windowfocus --sync "$window" key ctrl+q 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null || true
}

# start_gui_game DIR XBOARD_ARGS...: XBoard with its board on screen, playing
# against the device in DIR; sets $xb.
start_gui_game() {
    local dir=$1; shift
    xboard_cmd -fd "$dir" -testLegality false -tc 5 -inc 0 -sgf "$dir/game.pgn" "$@" >"$dir/xboard.out" 2>&1 &
    xb=$!
    pids+=($xb)
    board_window >/dev/null
}

# end_gui_game DIR [CHECK_ARGS...]: quits XBoard and the device and checks
# the game.
end_gui_game() {
    local dir=$1; shift
    stop_xboard "$xb"
    kill "$device_pid"
    ended_in_order "$dir"
    "$check" "$dir/zormlog.txt" "$dir/game.pgn" "$@" || fail "$dir: the game does not check out"
}

# play_to_mate NAME FEN MOVE [XBOARD_ARGS...]: from the position FEN, the
# person's MOVE leads to mate (by the device's answer or by the move itself).
play_to_mate() {
    local name=$1 fen=$2 move=$3; shift 3
    local dir=$out/$name
    start_device "$dir" --fen "$fen" --movetime 50
    echo "$fen" >"$dir/position.fen"
    start_gui_game "$dir" -lpf "$dir/position.fen" "$@"
    sleep 1
    type_move "$move"; wait_replies "$dir" 2
    sleep 1
    import -window "$(board_window)" "$out/$name.png"
    grep -a -q '^<== 0-1 {Black mates}' "$dir/zormlog.txt" || fail "$name: no result passed on"
    end_gui_game "$dir" --fen "$fen"
}

# machine_game DIR COLOUR XBOARD_ARGS...: the device (playing COLOUR, w or b)
# against fairymax in XBoard, to a result.
machine_game() {
    local dir=$1 colour=$2; shift 2
    start_device "$dir" --skill 3 --movetime 50
    timeout 300 env --default-signal=INT xboard -saveSettingsOnExit false -startupMessage "" "$@" \
        -mm -tc 0:20 -inc 0 -adjudicateDrawMoves 50 -autoflag -sgf "$dir/game.pgn" -xexit -noGUI \
        >"$dir/xboard.out" 2>&1 || fail "XBoard did not finish the game: $(tail -5 "$dir/xboard.out")"
    kill "$device_pid"
    ended_in_order "$dir"
    "$check" "$dir/zormlog.txt" "$dir/game.pgn" || fail "$dir: the game does not check out"
    grep -a -q "^ --> NEW [0-9-]* [0-9-]* $colour" "$dir/zormlog.txt" || fail "$dir: the device did not play $colour"
    cat "$dir/game.pgn"
}

person_against_device_black() {
local dir=$out/device-black
start_device "$dir" --skill 3 --movetime 50
start_gui_game "$dir" -mode MachineBlack
sleep 1
dismiss_popups  # "-mode MachineBlack" at the start: "It is not Black's turn"
type_move e2e4; wait_replies "$dir" 2     # the NEW's "OK" and the reply
type_move e1e3; wait_replies "$dir" 3     # a king's jump: the device refuses it
grep -a -q '^ <-- Illegal move' "$dir/zormlog.txt" || fail "the device did not refuse e1e3"
type_move d2d4; wait_replies "$dir" 4     # XBoard took e1e3 back, play goes on
# The bridge lives through interrupts while it plays for a front end.
bridge_pid=$(pgrep -P "$xb" -f "$bridge" | head -1)
[ -n "$bridge_pid" ] || fail "no bridge under XBoard"
kill -INT "$bridge_pid"; kill -INT "$bridge_pid"
type_move c2c3; wait_replies "$dir" 5
kill -0 "$bridge_pid" || fail "the bridge died of SIGINT"
sleep 0.5
import -window "$(board_window)" "$out/device-black-in-progress.png"
end_gui_game "$dir" --unfinished
}

person_against_device_white() {
local dir=$out/device-white
start_device "$dir" --skill 3 --movetime 50
start_gui_game "$dir" -mode MachineWhite
wait_replies "$dir" 1                     # the device's first move
type_move g8f6; wait_replies "$dir" 2
type_move e8e6; wait_replies "$dir" 3     # refused
grep -a -q '^ <-- Illegal move' "$dir/zormlog.txt" || fail "the device did not refuse e8e6"
type_move b8c6; wait_replies "$dir" 4
end_gui_game "$dir" --unfinished
}

if playing xboard; then
echo "== 1. the bridge (device, White) against fairymax"
game xboard-two-engine machine_game "$out/two-engine" w -fcp "$bridge" -firstProtocolVersion 1 \
    -fd "$out/two-engine" -scp fairymax
echo "== 2. a person (White) against the device as Black"
game xboard-device-black person_against_device_black
echo "== 3. a person (Black) against the device as White"
game xboard-device-white person_against_device_white
echo "== 4. the device (Black) mates"
game xboard-device-mates play_to_mate device-black-mates \
    "rnbqkbnr/pppp1ppp/8/4p3/8/5P2/PPPPP1PP/RNBQKBNR w KQkq - 0 2" g2g4  # 1. f3 e5
echo "== 5. the person (Black) mates the device"
# White's only move is Bf1, then Rxf1#.
game xboard-device-mated play_to_mate device-white-mated "4k3/8/8/8/8/8/4B1PP/4r2K w - - 0 1" e1f1 \
    -mode MachineWhite
fi

if playing cecp2; then
echo "== 6. protocol 2: sorvanite-cecp2 (device, White) against fairymax"
game cecp2-white machine_game "$out/cecp2-white" w -fcp "$cecp2" -fd "$out/cecp2-white" -scp fairymax
echo "== 7. protocol 2: fairymax against sorvanite-cecp2 (device, Black)"
game cecp2-black machine_game "$out/cecp2-black" b -fcp fairymax -scp "$cecp2" -sd "$out/cecp2-black"
fi

# The other GUIs play sorvanite-cecp2 against a person whose moves are
# clicked on their boards, whole games to mate. The device answers from a
# script, so that every click is a legal move: as Black it mates 1. f3 2. a3
# 3. b3 4. h3 5. g4 with 5... Qh4#; as White it mates 1... a6 2... a5 3... h6
# 4... h5 with 5. Qxf7#.
device_black_script='OK\ne7e5\na7a6\nb7b6\nh7h6\nd8h4 0-1 \\{Black mates}\n'
person_white_moves=(f2f3 a2a3 b2b3 h2h3 g2g4)
device_white_script='e2e4\nf1c4\nd1f3\nd2d3\nf3f7 1-0 \\{White mates}\n'
person_black_moves=(a7a6 a6a5 h7h6 h6h5)

# installed PACKAGE PROGRAM...: whether the GUI's programs are there; if
# not, says that its games are left out.
installed() {
    local program
    for program in "${@:2}"; do
        if ! command -v "$program" >/dev/null; then
            echo "xboard_games: $1 is not installed; its games are not played (apt-get install $1)"
            return 1
        fi
    done
}

# both_colours GAME GUI: GAME (NAME COLOUR SCRIPT MOVE...) with the device as
# Black, then as White; NAME is the GUI's name in lower case with the colour.
both_colours() {
    local name
    name=$(echo "$2" | tr '[:upper:]' '[:lower:]')
    echo "== $2: a person (White) against ${door:-sorvanite-cecp2} (device, Black)"
    game "$name-black" "$1" "$name-black" white "$device_black_script" "${person_white_moves[@]}"
    echo "== $2: ${door:-sorvanite-cecp2} (device, White) opens against a person"
    game "$name-white" "$1" "$name-white" black "$device_white_script" "${person_black_moves[@]}"
}

# start_gui_device DIR SCRIPT: the scripted device on DIR/com1, and an engine
# command DIR/engine.sh that runs $engine (sorvanite-cecp2 unless set) there.
start_gui_device() {
    mkdir -p "$1"
    printf '%b' "$2" >"$1/script.txt"
    start_device "$1" --script "$1/script.txt"
    printf '#!/bin/sh\ncd "%s" && exec "%s"\n' "$1" "${engine:-$cecp2}" >"$1/engine.sh"
    chmod +x "$1/engine.sh"
}

# find_window NAME PATTERN: the visible window whose title matches.
find_window() {
    local window
    for _ in $(seq 600); do
        window=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -1) && [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "$1: no window '$2'"
    echo "$window"
}

# end_gui_run DIR NAME: once the GUI is gone, its engine's run must have ended
# in order; then the device goes too.
end_gui_run() {
    for _ in $(seq 300); do tail -c 14 "$1/zormlog.txt" | grep -q 'Session ends' && break; sleep 0.1; done
    kill "$device_pid"
    tail -c 14 "$1/zormlog.txt" | grep -q 'Session ends' || fail "$2: the run did not end in order"
}

# file_index SQUARE: 0 for the a-file to 7 for the h-file.
file_index() { echo $(( $(printf '%d' "'${1:0:1}") - 97 )); }

# click_board WINDOW COLOUR SQUARE LEFT TOP SIZE [fixed]: clicks SQUARE on a
# board of SIZE-pixel squares with its top left corner at (LEFT, TOP) in
# WINDOW, seen from the person's side (COLOUR), or always from White's with
# "fixed".
click_board() {
    local file rank=$(( ${3:1:1} - 1 )) size=$6
    file=$(file_index "$3")
    if [ "$2" = black ] && [ "${7:-}" != fixed ]; then file=$(( 7 - file )); else rank=$(( 7 - rank )); fi
    xdotool mousemove --window "$1" $(( $4 + file * size + size / 2 )) $(( $5 + rank * size + size / 2 )) click 1
    sleep 0.4
}

# device_moves DIR: how many moves the device has made.
device_moves_pattern='^<== ([0-9]+\. \.\.\. |move |bestmove )[a-h][1-8][a-h][1-8]'
device_moves() { records "$1" "$device_moves_pattern"; }

# wait_device_moves DIR N: the device has made N moves.
wait_device_moves() { wait_records "$1" "$device_moves_pattern" "$2" "device moves"; }

# wait_mate DIR [N]: the device has mated (N times) and the result has gone
# to the GUI.
wait_mate() { wait_records "$1" '^<== (info string )?(1-0 \{White|0-1 \{Black) mates\}' "${2:-1}" "mates passed on"; }

# click_move DIR CLICK WINDOW COLOUR MOVE: clicks MOVE's two squares, and
# makes sure it took effect: the move reaches the transcript (from the GUI,
# as a move or at the end of a UCI position, or on its way to the device). A
# click that a busy machine lost is made again: the target square alone (the
# piece may still be picked up), then both squares once more.
click_move() {
    local dir=$1 click=$2 window=$3 colour=$4 move=$5 pattern before attempt
    pattern="^(==> (usermove |position .* )?| --> MOVE )$move"$'\r'
    before=$(records "$dir" "$pattern")
    "$click" "$window" "$colour" "${move:0:2}"
    "$click" "$window" "$colour" "${move:2:2}"
    for attempt in target both last; do
        for _ in $(seq 30); do [ "$(records "$dir" "$pattern")" -gt "$before" ] && return; sleep 0.1; done
        case $attempt in
        target) echo "$dir: $move did not take, clicking its target again" >&2
                "$click" "$window" "$colour" "${move:2:2}" ;;
        both) echo "$dir: $move did not take, clicking it again" >&2
              "$click" "$window" "$colour" "${move:0:2}"
              "$click" "$window" "$colour" "${move:2:2}" ;;
        esac
    done
    fail "$dir: the move $move never reached the engine"
}

# play_clicked_game DIR COLOUR CLICK WINDOW MOVE...: the person's moves
# (COLOUR), each clicked with "CLICK WINDOW COLOUR SQUARE" once the device
# has answered the last, up to the device's mate. $moves_before: the device's
# moves in the transcript before this game; $move_pause: how long the GUI
# takes to show the device's move.
play_clicked_game() {
    local dir=$1 colour=$2 click=$3 window=$4; shift 4
    local expected=${moves_before:-0}
    [ "$colour" = black ] && expected=$((expected + 1))
    for move in "$@"; do
        wait_device_moves "$dir" "$expected"
        sleep "${move_pause:-1}"
        click_move "$dir" "$click" "$window" "$colour" "$move"
        expected=$((expected + 1))
    done
    wait_device_moves "$dir" "$expected"
    wait_mate "$dir" "$(records "$dir" '^ --> NEW')"
}

# gnome-chess, with a scratch configuration naming sorvanite-cecp2 as its
# engine.
# gnome_chess_game NAME PLAY_AS SCRIPT MOVE...
# start_gnome_chess NAME PLAY_AS SCRIPT: the scripted device and gnome-chess
# against it in $out/NAME; sets $gc (the process) and $window.
start_gnome_chess() {
    local name=$1 play_as=$2 script=$3
    local dir=$out/$name config=$out/$name/config
    start_gui_device "$dir" "$script"
    mkdir -p "$config/gnome-chess" "$config/glib-2.0/settings"
    printf '[Sorvanite]\nprotocol=%s\nbinary=%s\n' "${engine_protocol:-cecp}" "${engine:-$cecp2}" \
        >"$config/gnome-chess/engines.conf"
    printf "[org/gnome/Chess]\nopponent='Sorvanite'\nplay-as='%s'\n" "$play_as" >"$config/glib-2.0/settings/keyfile"
    # Its own data directory too: gnome-chess resumes the game it saved there.
    (cd "$dir" && exec env XDG_CONFIG_HOME="$config" XDG_DATA_HOME="$dir/data" GSETTINGS_BACKEND=keyfile GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
        dbus-run-session -- gnome-chess >"$dir/gnome-chess.out" 2>&1) &
    gc=$!
    pids+=($gc)
    window=$(find_window "$name" 'to Move')
}

gnome_chess_game() {
    local name=$1 play_as=$2 script=$3; shift 3
    local dir=$out/$name
    start_gnome_chess "$name" "$play_as" "$script"
    # The person's side is at the bottom of the board.
    local to_move=White
    [ "$play_as" = black ] && to_move=Black
    for move in "$@"; do
        wait_title "$window" "$to_move to Move"
        click_move "$dir" click_square "$window" "$play_as" "$move"
    done
    wait_mate "$dir"
    local winner=Black
    [ "$play_as" = black ] && winner=White
    wait_title "$window" "$winner Wins"
    import -window "$window" "$out/$name.png"
    stop_gnome_chess "$name"
    wait_device_moves "$dir" 5
    echo "$name: a whole game, $(device_moves "$dir") device moves"
}

# stop_gnome_chess NAME: quits it as a person would; the engine then ends its
# run, and gnome-chess must never have called it confused.
stop_gnome_chess() {
    local dir=$out/$1
    xdotool windowfocus --sync "$window" key ctrl+q 2>/dev/null || true
    end_gui_run "$dir" "$1"
    # Ending gnome-chess lets dbus-run-session end its bus too.
    pkill -x gnome-chess 2>/dev/null || true
    wait "$gc" 2>/dev/null || true
    if grep -a -q -i 'confused' "$dir/gnome-chess.out"; then fail "$1: gnome-chess is confused"; fi
}

wait_title() {
    for _ in $(seq 600); do [ "$(xdotool getwindowname "$1" 2>/dev/null)" = "$2" ] && return; sleep 0.1; done
    fail "gnome-chess never showed '$2', but '$(xdotool getwindowname "$1")'"
}

# click_square WINDOW PLAY_AS SQUARE: the board fills the middle of the
# window, 48-pixel squares from (158, 83) at its default size.
click_square() { click_board "$@" 158 83 48; }

if playing gnome-chess && installed gnome-chess gnome-chess dbus-run-session; then both_colours gnome_chess_game gnome-chess; fi

# PyChess, with sorvanite-cecp2 added to its engines and its book moves off
# (it would play them for the engine itself and then set the position up,
# which the device cannot follow).
# start_pychess_game NAME COLOUR SCRIPT: PyChess, set up as a person would,
# playing COLOUR against the device in $out/NAME; sets $window.
start_pychess_game() {
    local name=$1 colour=$2 script=$3
    local dir=$out/$name home=$out/$name/home
    start_gui_device "$dir" "$script"
    mkdir -p "$home/.config/pychess"
    printf '[{"command": "%s", "name": "sorvanite-cecp2", "protocol": "xboard", "recheck": true}]\n' \
        "$dir/engine.sh" >"$home/.config/pychess/engines.json"
    # First start: PyChess checks the engine and writes its settings; then
    # they are set to open a game against it.
    start_pychess "$dir" "$home"
    # Checked, the engine's entry gains what PyChess learnt (its md5).
    for _ in $(seq 1800); do grep -q '"md5"' "$home/.config/pychess/engines.json" && break; sleep 0.1; done
    grep -q '"md5"' "$home/.config/pychess/engines.json" || fail "$name: PyChess never listed the engine"
    sleep 1
    stop_pychess
    python3 - "$home/.config/pychess" <<'PY' || fail "$name: PyChess did not keep the engine"
import configparser, json, sys
folder = sys.argv[1]
names = [engine["name"] for engine in json.load(open(folder + "/engines.json"))]
config = configparser.ConfigParser()
config.read(folder + "/config")
general = config["General"]
general["newgametasker_playercombo"] = str(names.index("sorvanite-cecp2") + 1)  # 0 is a person
general["book_depth_max"] = "0"
general["show_tip_at_startup"] = "False"
general["dont_show_externals_at_startup"] = "True"
with open(folder + "/config", "w") as out:
    config.write(out)
PY
    start_pychess "$dir" "$home"
    window=$(find_window "$name" '^Welcome - PyChess$')
    sleep 2
    if [ "$colour" = black ]; then
        xdotool mousemove --window "$window" 234 232 click 1; sleep 0.7
        xdotool mousemove --window "$window" 193 264 click 1; sleep 0.7
    fi
    # Start Game; it takes no clicks while PyChess still checks its engines.
    local started=
    for _ in $(seq 45); do
        xdotool mousemove --window "$window" 208 340 click 1
        for _ in $(seq 40); do
            if xdotool search --onlyvisible --name 'sorvanite-cecp2.* - PyChess$' >/dev/null 2>&1; then
                started=yes
                break 2
            fi
            sleep 0.1
        done
    done
    [ -n "$started" ] || fail "$name: PyChess did not start the game"
}

# pychess_game NAME COLOUR SCRIPT MOVE...   (COLOUR: the person's)
pychess_game() {
    local name=$1 colour=$2 script=$3; shift 3
    local dir=$out/$name
    start_pychess_game "$name" "$colour" "$script"
    play_clicked_game "$dir" "$colour" pychess_click "$window" "$@"
    import -window "$window" "$out/$name.png"
    stop_pychess
    # PyChess stops its engine (SIGSTOP) when a game ends, and ends it with
    # SIGTERM without continuing it; the end of the desktop session continues
    # it, as this does.
    pkill -CONT -f "$cecp2" 2>/dev/null || true
    end_gui_run "$dir" "$name"
    echo "$name: a whole game, $(device_moves "$dir") device moves"
}

start_pychess() {
    (cd "$1" && exec env HOME="$2" PATH=/usr/bin:/bin GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
        dbus-run-session -- /usr/games/pychess >>"$1/pychess.out" 2>&1) &
    pids+=($!)
}

# Ends PyChess itself, not the dbus-run-session around it, which then ends
# its bus as well.
stop_pychess() {
    local pychess='python3[^ ]* /usr/games/pychess'
    pkill -f "$pychess" 2>/dev/null || true
    for _ in $(seq 50); do pgrep -f "$pychess" >/dev/null || break; sleep 0.1; done
    pkill -KILL -f "$pychess" 2>/dev/null || true
    for _ in $(seq 50); do pgrep -f 'dbus-run-session -- /usr/games/pychess' >/dev/null || return 0; sleep 0.1; done
}

# pychess_click WINDOW COLOUR SQUARE: 39-pixel squares from (65, 160).
pychess_click() { click_board "$@" 65 160 39; }

if playing pychess && installed pychess pychess dbus-run-session; then both_colours pychess_game PyChess; fi

# wait_refused DIR NAME REASON [N]: the device's refusal reached the GUI (N
# times): the reason in words and the game resigned, or through
# door=sorvanite-uci the reason as an info string and an empty bestmove.
wait_refused() {
    if [ "${door:-}" = sorvanite-uci ]; then
        wait_records "$1" '^<== bestmove 0000'$'\r' "${4:-1}" "refusals"
        grep -a -q "^<== info string $3" "$1/zormlog.txt" || fail "$2: the person was not told why"
    else
        wait_records "$1" '^<== resign'$'\r' "${4:-1}" "resignations"
        grep -a -q "^<== tellusererror $3" "$1/zormlog.txt" || fail "$2: the person was not told why"
    fi
}

# pychess_refusal NAME SCRIPT REASON MOVE... LAST: as xboard_refusal, in
# PyChess (device, Black). LAST is ctrl+z (Undo) or a promotion, its piece
# chosen in PyChess's Promotion dialog. PyChess shows the reason in a
# message ("The engine sorvanite-cecp2 reports an error") and ends the game
# ("sorvanite-cecp2 resigned"), photographed. It then stops the engine,
# which keeps the port: the next game is played as the README says, PyChess
# quit, the engine continued, PyChess started again.
pychess_refusal() {
    local name=$1 script=$2 reason=$3; shift 3
    local moves=("${@:1:$#-1}") last=${*: -1}
    local dir=$out/$name answered=0 move
    start_pychess_game "$name" white "$script"
    for move in "${moves[@]}"; do
        wait_device_moves "$dir" "$answered"; sleep 1
        click_move "$dir" pychess_click "$window" white "$move"
        answered=$((answered + 1))
    done
    wait_device_moves "$dir" "$answered"; sleep 1
    case $last in
    ctrl+*) xdotool windowfocus --sync "$window" key "$last" ;;
    *)  pychess_click "$window" white "${last:0:2}"
        pychess_click "$window" white "${last:2:2}"
        # Queen, Rook, Bishop, Knight from the dialog's left.
        local piece=$(( $(expr index qrbn "${last:4:1}") - 1 ))
        xdotool mousemove --window "$(find_window "$name" '^Promotion$')" $((47 + piece * 89)) 64 click 1 ;;
    esac
    wait_refused "$dir" "$name" "$reason"
    sleep 2
    import -window "$window" "$out/$name-ended.png"
    stop_pychess
    pkill -CONT -f "$cecp2" 2>/dev/null || true
    end_gui_run "$dir" "$name"
    start_pychess_game "$name" white 'OK\nc7c5\n'
    wait_device_moves "$dir" "$answered"; sleep 1
    click_move "$dir" pychess_click "$window" white d2d4
    wait_device_moves "$dir" $((answered + 1))
    import -window "$window" "$out/$name-next-game.png"
    stop_pychess
    pkill -CONT -f "$cecp2" 2>/dev/null || true
    end_gui_run "$dir" "$name"
    echo "$name: refused with the reason, resigned, and the next game played"
}

# DreamChess, started with sorvanite-cecp2 as its engine; it gives no clock.
# Its board is drawn in perspective: squares are clicked where they appear.
# dreamchess_game NAME COLOUR SCRIPT MOVE...   (COLOUR: the person's)
dreamchess_game() {
    local name=$1 colour=$2 script=$3; shift 3
    local dir=$out/$name
    start_gui_device "$dir" "$script"
    mkdir -p "$dir/home"
    (cd "$dir" && exec env HOME="$dir/home" SDL_AUDIODRIVER=dummy \
        dreamchess -W 800 -H 600 -1 "$dir/engine.sh" >"$dir/dreamchess.out" 2>&1) &
    pids+=($!)
    local window
    window=$(find_window "$name" '^DreamChess$')
    sleep 3
    xdotool key --window "$window" Return                                 # New Game..
    sleep 1.5
    [ "$colour" = black ] && { dreamchess_click "$window" 560 371; sleep 1; }  # Players: CPU vs. Human
    dreamchess_click "$window" 399 450                                     # Start Game
    # The device's piece glides to its square before the board takes a click.
    move_pause=1.5 play_clicked_game "$dir" "$colour" dreamchess_square "$window" "$@"
    import -window "$window" "$out/$name.png"
    pkill -x dreamchess 2>/dev/null || true
    end_gui_run "$dir" "$name"
    echo "$name: a whole game, $(device_moves "$dir") device moves"
}

# It takes a press and a release, not a bare click.
dreamchess_click() {
    xdotool mousemove --window "$1" "$2" "$3"
    sleep 0.3
    xdotool mousedown 1
    sleep 0.1
    xdotool mouseup 1
    sleep 0.5
}

# dreamchess_square WINDOW COLOUR SQUARE: the board's near edge spans 110 to
# 689 of the 800-pixel-wide window at y 587, its far edge 188 to 627 at y 127;
# the ranks' rows were measured on screen.
dreamchess_square() {
    local file rank=${3:1:1}
    file=$(file_index "$3")
    if [ "$2" = black ]; then file=$(( 7 - file )); rank=$(( 9 - rank )); fi
    local rows=(0 549 478 413 357 304 255 208 162)
    local y=${rows[$rank]}
    local left=$(( 188 - (y - 127) * 78 / 460 )) right=$(( 627 + (y - 127) * 62 / 460 ))
    dreamchess_click "$1" $(( left + (2 * file + 1) * (right - left) / 16 )) "$y"
}

if playing dreamchess && installed dreamchess dreamchess; then both_colours dreamchess_game DreamChess; fi

# eboard, its engine dialog filled in as a person would, with its own
# default clock: 20 s a move, sent as "st 20". As soon as a game is over it
# ends its engine with SIGKILL, so a run's transcript ends at the result,
# without "Session ends".
# eboard_game NAME COLOUR SCRIPT MOVE...   (COLOUR: the person's)
eboard_game() {
    local name=$1 colour=$2 script=$3; shift 3
    local dir=$out/$name
    start_gui_device "$dir" "$script"
    mkdir -p "$dir/home"
    (cd "$dir" && exec env HOME="$dir/home" eboard >"$dir/eboard.out" 2>&1) &
    pids+=($!)
    local window dialog help
    window=$(find_window "$name" '^eboard$')
    # Its first start shows a help window over the board: Close.
    help=$(find_window "$name" '^Help: Getting Started')
    sleep 0.5
    xdotool mousemove --window "$help" 583 535 click 1
    # Peer > Play against Engine > Generic Engine...
    xdotool mousemove --window "$window" 25 14 click 1 sleep 0.5 mousemove --window "$window" 96 135 sleep 0.5 \
        mousemove --window "$window" 400 135 mousemove --window "$window" 410 206 click 1
    dialog=$(find_window "$name" '^Play against Engine$')
    sleep 1
    # The keyboard focus may have gone with the last GUI's window.
    xdotool windowfocus --sync "$dialog"
    [ "$colour" = black ] && xdotool mousemove --window "$dialog" 22 98 click 1 sleep 0.5  # Computer White
    # The Engine Command tab: the command and the directory it runs in.
    xdotool mousemove --window "$dialog" 170 20 click 1 sleep 1
    xdotool mousemove --window "$dialog" 180 73 click --repeat 3 1 sleep 0.3 key ctrl+a type --delay 10 "$cecp2"
    xdotool mousemove --window "$dialog" 180 125 click --repeat 3 1 sleep 0.3 key ctrl+a type --delay 10 "$dir"
    sleep 0.5
    xdotool mousemove --window "$dialog" 222 316 click 1
    play_clicked_game "$dir" "$colour" eboard_square "$window" "$@"
    pkill -x eboard 2>/dev/null || true
    kill "$device_pid"
    grep -a -q '^ --> NEW 800 20 ' "$dir/zormlog.txt" || fail "$name: eboard's 20 s a move did not reach the device"
    echo "$name: a whole game, $(device_moves "$dir") device moves"
}

# eboard_square WINDOW COLOUR SQUARE: 57-pixel squares from (2, 35).
eboard_square() { click_board "$@" 2 35 57; }

# start_kde_gui DIR PROGRAM: a KDE GUI with its own session bus and DIR/home
# as its home; sets $window to its main window.
start_kde_gui() {
    (cd "$1" && exec env HOME="$1/home" NO_AT_BRIDGE=1 dbus-run-session -- "$2" >"$1/$2.out" 2>&1) &
    pids+=($!)
    window=$(main_window "$2")
    sleep 3
}

# start_knights DIR SCRIPT: the scripted device, and Knights with it as its
# engine, a person playing White; its engine list and the new game's players
# are set in a scratch knightsrc. Sets $window.
start_knights() {
    local dir=$1
    start_gui_device "$dir" "$2"
    mkdir -p "$dir/home/.config"
    printf '%s\n' '[Notification Messages]' 'askDiscard=false' '' '[Protocols]' \
        "engineConfigurations=Sorvanite:$dir/engine.sh:xboard" player2Program=Sorvanite player2Protocol=XBoard \
        color=White >"$dir/home/.config/knightsrc"
    start_kde_gui "$dir" knights
}

# knights_new_game WINDOW: New, then OK: a person (White) against Sorvanite,
# as the settings say.
knights_new_game() {
    xdotool mousemove --window "$1" 26 38 click 1; sleep 2
    xdotool mousemove 564 324 click 1; sleep 2
}

# Knights, two games in a row in one Knights: the device as Black, then, from
# Knights' game-over popup, as White. Knights quits one engine and starts the
# next between them.
knights_games() {
    local dir=$out/knights
    local window
    start_knights "$dir" "$device_black_script$device_white_script"
    knights_new_game "$window"
    play_clicked_game "$dir" white knights_square "$window" "${person_white_moves[@]}"
    sleep 1
    # The game-over popup's New (its default button), then Black and OK in
    # the new-game dialog.
    local before popup
    before=$(device_moves "$dir")
    popup=$(find_window knights '^Game over')
    xdotool windowfocus --sync "$popup" key Return; sleep 2
    xdotool mousemove 413 92 click 1 sleep 0.4 mousemove 564 324 click 1
    moves_before=$before play_clicked_game "$dir" black knights_square "$window" "${person_black_moves[@]}"
    import -window "$window" "$out/knights.png"
    pkill -x knights 2>/dev/null || true
    end_gui_run "$dir" knights
    [ "$(records "$dir" '^Session ends')" = 2 ] || fail "knights: two runs did not both end in order"
    echo "knights: two whole games, $(device_moves "$dir") device moves"
}

# knights_refusal NAME SCRIPT REASON MOVE... LAST: as xboard_refusal, in
# Knights (device, Black). LAST is one or more actions: undo (its toolbar's
# Undo), a move to click, or a promotion, its piece chosen in Knights'
# Promotion dialog. Knights reads neither the reason nor the resignation:
# it shows the device thinking, photographed, until the person starts a new
# game (New), which must play.
knights_refusal() {
    local name=$1 script=$2 reason=$3; shift 3
    local moves=("${@:1:$#-1}") last=${*: -1}
    local dir=$out/$name answered=0 move action
    local window
    start_knights "$dir" "$script"
    knights_new_game "$window"
    for move in "${moves[@]}"; do
        click_move "$dir" knights_square "$window" white "$move"
        answered=$((answered + 1))
        wait_device_moves "$dir" "$answered"; sleep 1
    done
    for action in $last; do
        case $action in
        undo) xdotool mousemove --window "$window" 179 38 click 1; sleep 1 ;;
        ????) click_move "$dir" knights_square "$window" white "$action" ;;
        *)  knights_square "$window" white "${action:0:2}"
            knights_square "$window" white "${action:2:2}"
            # The dialog's choices, Queen, Rook, Bishop, Knight from its
            # left, then its Promote button.
            local promotion piece=$(( $(expr index qrbn "${action:4:1}") - 1 ))
            promotion=$(find_window "$name" '^Promotion')
            xdotool mousemove --window "$promotion" $((40 + piece * 71)) 64 click 1 sleep 0.5 \
                mousemove --window "$promotion" 204 114 click 1 ;;
        esac
    done
    wait_refused "$dir" "$name" "$reason"
    sleep 1
    import -window "$window" "$out/$name-ended.png"
    knights_new_game "$window"
    wait_records "$dir" '^New session' 2 "engine runs"
    click_move "$dir" knights_square "$window" white d2d4
    wait_device_moves "$dir" $((answered + 1))
    import -window "$window" "$out/$name-next-game.png"
    pkill -x knights 2>/dev/null || true
    end_gui_run "$dir" "$name"
    echo "$name: refused, the device thinking until a new game, which played"
}

# knights_square WINDOW COLOUR SQUARE: 35-pixel squares from (374, 66).
knights_square() { click_board "$@" 374 66 35; }

# Tagua, with sorvanite-cecp2 in its engine list (a scratch taguarc.xml):
# its Engines menu, the engine's "Play as black" or "Play as white".
# tagua_game NAME COLOUR SCRIPT MOVE...   (COLOUR: the person's)
tagua_game() {
    local name=$1 colour=$2 script=$3; shift 3
    local dir=$out/$name
    start_gui_device "$dir" "$script"
    mkdir -p "$dir/home/.config"
    printf '<configuration><engines><engine><name>Sorvanite</name><path>%s</path><type>xboard</type><work-path>%s</work-path></engine></engines></configuration>\n' \
        "$cecp2" "$dir" >"$dir/home/.config/taguarc.xml"
    local window
    start_kde_gui "$dir" tagua
    # Engines > Sorvanite > Play as white, or Play as black below it, by
    # keyboard: the menu's place on the bar varies.
    local keys=(Right)
    [ "$colour" = white ] && keys+=(Down)
    xdotool windowfocus --sync "$window" key alt+n sleep 0.7 key "${keys[@]}" sleep 0.5 key Return
    play_clicked_game "$dir" "$colour" tagua_square "$window" "$@"
    import -window "$window" "$out/$name.png"
    pkill -x tagua 2>/dev/null || true
    end_gui_run "$dir" "$name"
    echo "$name: a whole game, $(device_moves "$dir") device moves"
}

# tagua_square WINDOW COLOUR SQUARE: 21-pixel squares from (275, 77), White
# at the bottom whichever side the person plays.
tagua_square() { click_board "$@" 275 77 21 fixed; }

if playing tagua && installed tagua tagua dbus-run-session; then both_colours tagua_game Tagua; fi

if playing eboard && installed eboard eboard; then both_colours eboard_game eboard; fi

if playing knights && installed knights knights dbus-run-session; then
    echo "== Knights: two games in a row against sorvanite-cecp2, the device as Black, then as White"
    game knights knights_games
fi


# xboard_refusal NAME SCRIPT REASON MOVE... LAST: against sorvanite-cecp2
# (device, Black), the person's MOVEs, each answered, then LAST (one or more
# actions, each a move to type or a key such as ctrl+x) that the device
# cannot follow: the person must be told REASON, the device must resign that
# game (XBoard shows the reason in a popup, photographed, and ends the game),
# and the next game must play. With door=sorvanite-uci, through polyglot: the
# reason goes as an info string, which polyglot shows as the engine's
# thinking, and polyglot resigns the game for the engine's empty bestmove.
xboard_refusal() {
local name=$1 script=$2 reason=$3; shift 3
local moves=("${@:1:$#-1}") last=${*: -1}
local dir=$out/$name engine=(-fcp "$cecp2") ready='^<== pong'
if [ "${door:-}" = sorvanite-uci ]; then engine=(-fcp "$uci" -fUCI -engineOutputUp true); ready='^<== readyok'; fi
start_gui_device "$dir" "$script"
(cd "$dir" && exec env --default-signal=INT xboard "${engine[@]}" -fd "$dir" -saveSettingsOnExit false \
    -startupMessage "" -testLegality false -tc 5 -inc 0 -sgf "$dir/game.pgn" >"$dir/xboard.out" 2>&1) &
xb=$!
pids+=($xb)
board_window >/dev/null
# XBoard takes moves once it has set its engine up; a busy machine may lose
# the keys typed before.
wait_records "$dir" "$ready" 1 "engine set-ups"
local answered=0 move action
for move in "${moves[@]}"; do
    typed_move "$dir" "$move"
    answered=$((answered + 1))
    wait_device_moves "$dir" "$answered"
done
for action in $last; do
    case $action in
    ctrl+*) xdotool windowfocus --sync "$(board_window)" key "$action"; sleep 0.5 ;;
    *) type_move "$action" ;;
    esac
done
if [ "${door:-}" = sorvanite-uci ]; then
    wait_refused "$dir" "$name" "$reason"
    # XBoard saves each game as it ends: the refused one, resigned.
    for _ in $(seq 600); do grep -q '{polyglot: resign (illegal engine move' "$dir/game.pgn" 2>/dev/null && break; sleep 0.1; done
    grep -q '{polyglot: resign (illegal engine move' "$dir/game.pgn" || fail "$name: the refused game did not end"
    import -window "$(board_window)" "$out/$name-ended.png"
    import -window "$(find_window "$name" '^Engine Output$')" "$out/$name-reason.png"
    xdotool windowfocus --sync "$(board_window)" key ctrl+n  # New Game
    wait_records "$dir" '^==> ucinewgame' 2 "new games"
else
    wait_refused "$dir" "$name" "$reason"
    popup=$(find_window "$name" '^Error$')
    import -window "$popup" "$out/$name-message.png"
    wait_records "$dir" '^==> result 1-0 \{Black resigns\}' 1 "game ends"
    dismiss_popups
    xdotool windowfocus --sync "$(board_window)" key ctrl+n      # New Game
    wait_records "$dir" "$ready" 3 "engine set-ups"  # the end of the first game, then the new one
fi
typed_move "$dir" d2d4; wait_device_moves "$dir" $((answered + 1))
typed_move "$dir" c2c4; wait_device_moves "$dir" $((answered + 2))
import -window "$(board_window)" "$out/$name-next-game.png"
stop_xboard "$xb"
kill "$device_pid"
ended_in_order "$dir"
echo "$name: refused with the reason, resigned, and the next game played"
}

# gnome_chess_refusal NAME SCRIPT REASON MOVE... LAST: as xboard_refusal, in
# gnome-chess, which shows no engine messages: the game must end ("White
# Wins", Black has resigned). LAST is one or more actions: a key (ctrl+z,
# Undo), a move to click, or a promotion, its piece chosen in gnome-chess's
# popover. With door=sorvanite-uci, UCI has no resignation: gnome-chess ends
# the game on the empty bestmove ("Oops!", the computer player is confused).
gnome_chess_refusal() {
local name=$1 script=$2 reason=$3; shift 3
local moves=("${@:1:$#-1}") last=${*: -1}
local dir=$out/$name answered=0 move action
start_gnome_chess "$name" white "$script"
for move in "${moves[@]}"; do
    wait_title "$window" "White to Move"
    click_move "$dir" click_square "$window" white "$move"
    answered=$((answered + 1))
    wait_device_moves "$dir" "$answered"
done
for action in $last; do
    wait_title "$window" "White to Move"
    case $action in
    ctrl+*) xdotool windowfocus --sync "$window" key "$action" ;;
    ????) click_move "$dir" click_square "$window" white "$action" ;;
    *)  click_square "$window" white "${action:0:2}"
        click_square "$window" white "${action:2:2}"
        # The popover: Queen, Knight, Rook, Bishop from its left.
        local piece=$(( $(expr index qnrb "${action:4:1}") - 1 ))
        xdotool mousemove --window "$window" $((55 + piece * 100)) 65 click 1
        wait_records "$dir" "^==> (position .* )?$action"$'\r' 1 "promotions" ;;
    esac
done
local ended="White Wins"
if [ "${door:-}" = sorvanite-uci ]; then
    wait_refused "$dir" "$name" "$reason"
    ended="Oops!"
else
    wait_refused "$dir" "$name" "$reason"
fi
wait_title "$window" "$ended"
import -window "$window" "$out/$name-ended.png"
# Over UCI that end is gnome-chess's "confused"; the next game must have none.
if [ "${door:-}" = sorvanite-uci ]; then : >"$dir/gnome-chess.out"; fi
xdotool windowfocus --sync "$window" key ctrl+n             # New Game: its dialog's Start
newgame=$(find_window "$name" '^New Game$')
sleep 0.5
xdotool mousemove --window "$newgame" 352 28 click 1
for move in d2d4 c2c4; do
    wait_title "$window" "White to Move"
    click_move "$dir" click_square "$window" white "$move"
    answered=$((answered + 1))
    wait_device_moves "$dir" "$answered"
done
# Past the 30 s after which gnome-chess calls a silent engine confused.
sleep 35
wait_title "$window" "White to Move"
import -window "$window" "$out/$name-next-game.png"
stop_gnome_chess "$name"
echo "$name: refused, the game ended, and the next game played"
}

# Scid's serious game, with the settings a person would have saved: the
# device's engine chosen, no book, no tip at start, and no suggested moves
# (with them a click on a piece plays the analysis engine's move for it). Scid starts the first
# engine of its list for its analysis window, which the device cannot be:
# stockfish comes first.
# start_scid NAME COLOUR SCRIPT: Scid's serious game against the scripted
# device in $out/NAME, the person playing COLOUR; sets $window and $scid.
start_scid() {
    local name=$1 colour=$2 script=$3
    local dir=$out/$name config=$out/$name/home/.scid4.7/config
    start_gui_device "$dir" "$script"
    mkdir -p "$config"
    local entry='engine {\n  Name %s\n  Cmd %s\n  Args {}\n  Dir %s\n  Elo 0\n  Time 0\n  URL {}\n  UCI 1\n  UCIoptions {}\n}\n'
    # shellcheck disable=SC2059
    printf "$entry$entry" Stockfish "$(command -v stockfish)" "$dir" Sorvanite "$uci" "$dir" >"$config/engines.dat"
    printf 'set ::sergame::chosenEngine 1\nset ::sergame::useBook 0\nset startup(tip) 0\nset suggestMoves 0\n' \
        >"$config/options.dat"
    (cd "$dir" && exec env HOME="$out/$name/home" scid >"$dir/scid.out" 2>&1) &
    scid=$!
    pids+=($scid)
    window=$(find_window "$name" '^Scid - ')
    sleep 2
    # The engine plays the side at the top: to play Black, the person turns
    # the board (".") first.
    [ "$colour" = black ] && xdotool windowfocus --sync "$window" key period
    scid_serious_game "$name"
}

# scid_serious_game NAME: Play > Serious game, and its Play button.
scid_serious_game() {
    xdotool mousemove --window "$window" 300 15 click 1
    xdotool mousemove --window "$(find_window "$1" '^#menu#play$')" 40 10 click 1
    xdotool windowfocus --sync "$(find_window "$1" '^Game configuration$')" key Return
}

# scid_game NAME COLOUR SCRIPT MOVE...   (COLOUR: the person's)
scid_game() {
    local name=$1 colour=$2 script=$3; shift 3
    local dir=$out/$name window scid
    start_scid "$name" "$colour" "$script"
    play_clicked_game "$dir" "$colour" scid_click "$window" "$@"
    sleep 1
    import -window "$window" "$out/$name.png"
    kill "$scid"
    end_gui_run "$dir" "$name"
    echo "$name: a whole game, $(device_moves "$dir") device moves"
}

# scid_refusal NAME SCRIPT REASON MOVE... PROMOTION: Scid's serious game,
# the device as Black, the person's MOVEs, then a PROMOTION to another piece
# than a queen, chosen in Scid's piece chooser. Scid reads neither the
# reason nor "bestmove 0000": it asks again each second, and the clocks run
# on (photographed). The person stops the game (Stop, under the board) and
# starts a new serious game, which must play.
scid_refusal() {
    local name=$1 script=$2 reason=$3; shift 3
    local moves=("${@:1:$#-1}") last=${*: -1}
    local dir=$out/$name window scid answered=0 move
    start_scid "$name" white "$script"
    for move in "${moves[@]}"; do
        click_move "$dir" scid_click "$window" white "$move"
        answered=$((answered + 1))
        wait_device_moves "$dir" "$answered"; sleep 1
    done
    scid_click "$window" white "${last:0:2}"
    scid_click "$window" white "${last:2:2}"
    # Queen, Rook, Bishop, Knight from the chooser's left.
    local piece=$(( $(expr index qrbn "${last:4:1}") - 1 ))
    xdotool mousemove --window "$(find_window "$name" '^Scid$')" $((28 + piece * 56)) 28 click 1
    door=sorvanite-uci wait_refused "$dir" "$name" "$reason" 2  # asked again
    import -window "$window" "$out/$name-asking.png"
    xdotool mousemove --window "$window" 157 485 click 1  # Stop
    sleep 1
    scid_serious_game "$name"
    # Scid asks about the game on its board: Discard changes and continue.
    find_window "$name" '^Scid: Save$' >/dev/null
    xdotool mousemove 638 609 click 1
    click_move "$dir" scid_click "$window" white d2d4
    wait_device_moves "$dir" $((answered + 1))
    import -window "$window" "$out/$name-next-game.png"
    kill "$scid"
    end_gui_run "$dir" "$name"
    echo "$name: refused, asked again until stopped, and the next game played"
}

# scid_click WINDOW COLOUR SQUARE: 45-pixel squares from (19, 84).
scid_click() { click_board "$@" 19 84 45; }

# sorvanite-uci: XBoard speaks UCI through polyglot; Scid and gnome-chess
# speak it themselves.
if playing uci; then
door=sorvanite-uci engine=$uci engine_protocol=uci

if installed polyglot polyglot; then
    echo "== 21. UCI: sorvanite-uci (device, White) through polyglot against fairymax"
    game uci-polyglot-white machine_game "$out/uci-polyglot-white" w -fcp "$uci" -fUCI -fd "$out/uci-polyglot-white" \
        -scp fairymax
    echo "== 22. UCI: fairymax against sorvanite-uci (device, Black) through polyglot"
    game uci-polyglot-black machine_game "$out/uci-polyglot-black" b -fcp fairymax -scp "$uci" -sUCI \
        -sd "$out/uci-polyglot-black"
fi

if installed scid scid; then both_colours scid_game Scid; fi

if installed gnome-chess gnome-chess dbus-run-session; then both_colours gnome_chess_game gnome-chess-uci; fi
unset door engine engine_protocol
fi

# Refusals, as rows: the game, the GUI's refusal function, the package it
# needs, the front door, the refusal, the person's moves before it, and what
# the device cannot follow (actions in turn: keys, moves, a promotion). Each
# refusal's device script and the reason the person must be told:
#   takeback     a take-back after the device's first move
#   unreachable  through UCI a take-back is only the position after the
#                next move, which the device's game cannot reach
#   promotion    a promotion to a knight
refusal_rows='
xboard-takeback                xboard_refusal      xboard      cecp2 takeback    e2e4                ctrl+x
xboard-underpromotion          xboard_refusal      xboard      cecp2 promotion   a2a4,a4a5,a5a6,a6b7 b7a8n
xboard-polyglot-takeback       xboard_refusal      polyglot    uci   unreachable e2e4,g1f3           ctrl+x,d2d4
xboard-polyglot-underpromotion xboard_refusal      polyglot    uci   promotion   a2a4,a4a5,a5a6,a6b7 b7a8n
gnome-chess-takeback           gnome_chess_refusal gnome-chess cecp2 takeback    e2e4                ctrl+z
gnome-chess-underpromotion     gnome_chess_refusal gnome-chess cecp2 promotion   a2a4,a4a5,a5a6,a6b7 b7a8n
gnome-chess-uci-takeback       gnome_chess_refusal gnome-chess uci   unreachable e2e4,g1f3           ctrl+z,d2d4
gnome-chess-uci-underpromotion gnome_chess_refusal gnome-chess uci   promotion   a2a4,a4a5,a5a6,a6b7 b7a8n
knights-takeback               knights_refusal     knights     cecp2 takeback    e2e4                undo,d2d4
knights-underpromotion         knights_refusal     knights     cecp2 promotion   a2a4,a4a5,a5a6,a6b7 b7a8n
pychess-takeback               pychess_refusal     pychess     cecp2 takeback    e2e4                ctrl+z
pychess-underpromotion         pychess_refusal     pychess     cecp2 promotion   a2a4,a4a5,a5a6,a6b7 b7a8n
scid-underpromotion            scid_refusal        scid        uci   promotion   a2a4,a4a5,a5a6,a6b7 b7a8n
'
declare -A refusal_script=(
    [takeback]='OK\ne7e5\nOK\nc7c5\nd7d6\n'
    [unreachable]='OK\ne7e5\nb8c6\nOK\nc7c5\nd7d6\n'
    [promotion]='OK\nh7h6\nh6h5\nh5h4\nh4h3\nOK\nc7c5\nd7d6\n')
declare -A refusal_reason=(
    [takeback]="The chess device cannot take moves back"
    [unreachable]="The chess device's game cannot reach this position"
    [promotion]="The chess device promotes only to a queen")
if playing takeback; then
    while read -r name function package kind refusal moves last <&3; do
        [ -n "$name" ] || continue
        installed "$package" "$package" || continue
        echo "== $name: against sorvanite-$kind (device, Black), then the next game"
        # shellcheck disable=SC2086
        if [ "$kind" = uci ]; then
            door=sorvanite-uci engine=$uci engine_protocol=uci game "$name" "$function" "$name" \
                "${refusal_script[$refusal]}" "${refusal_reason[$refusal]}" ${moves//,/ } "${last//,/ }" </dev/null
        else
            game "$name" "$function" "$name" "${refusal_script[$refusal]}" "${refusal_reason[$refusal]}" \
                ${moves//,/ } "${last//,/ }" </dev/null
        fi
    done 3<<<"$refusal_rows"
fi

# WinBoard, the Windows XBoard, under Wine with the Windows programs, each
# on a COM port of the Wine prefix mapped to an emulated device's terminal.
# SORVANITE_WINDOWS_GUI names the folder with winboard.exe and polyglot.exe
# (shared/windows-gui/build.sh builds them), which WinBoard runs for UCI
# engines from its own folder; SORVANITE_WINDOWS_BRIDGE, _CECP2 and _UCI the
# programs.
winpath() { local path=$1; printf 'Z:%s' "${path//\//\\}"; }

# winboard_engine SIDE KIND PORT: WinBoard's options for the Windows program
# KIND (bridge, cecp2 or uci) as its SIDE (first or second) engine, on PORT.
winboard_engine() {
    local side=$1 kind=$2 port=$3 dir=$4 program short=${1:0:1}
    case $kind in
    bridge) program=$SORVANITE_WINDOWS_BRIDGE; echo "-${short}cp"; echo "$(winpath "$program") --port $port"
            echo "-${side}ProtocolVersion"; echo 1 ;;
    cecp2) program=$SORVANITE_WINDOWS_CECP2; echo "-${short}cp"; echo "$(winpath "$program") --port $port" ;;
    uci) program=$SORVANITE_WINDOWS_UCI; echo "-${short}cp"; echo "$(winpath "$program") --port $port"
         echo "-${short}UCI" ;;
    esac
    echo "-${short}d"; winpath "$dir"; echo
}

# map_port N DIR: COMn of the Wine prefix is the terminal of DIR's device.
map_port() { ln -sfn "$(readlink "$2/com1")" "$WINEPREFIX/dosdevices/com$1"; }

# WinBoard's board small and alone on the screen.
winboard_options=(-saveSettingsOnExit false -boardSize small -engineOutputUp false -moveHistoryUp false
    -evalGraphUp false)

# winboard_match NAME WHITE BLACK: the device against itself in a WinBoard
# match, WHITE as the first engine on COM5 and BLACK as the second on COM6,
# to a result; WinBoard then ends both runs in order as it exits.
winboard_match() {
    local name=$1 dir=$out/$1
    start_device "$dir/white" --skill 2 --movetime 50
    start_device "$dir/black" --skill 2 --movetime 50
    map_port 5 "$dir/white"
    map_port 6 "$dir/black"
    local args
    mapfile -t args < <(winboard_engine first "$2" COM5 "$dir/white"; winboard_engine second "$3" COM6 "$dir/black")
    (cd "$dir" && timeout 300 "$wine" "$SORVANITE_WINDOWS_GUI/winboard.exe" "${winboard_options[@]}" -cp "${args[@]}" \
        -mm -tc 0:20 -inc 0 -adjudicateDrawMoves 50 -autoflag -sgf "$(winpath "$dir/game.pgn")" -xexit \
        >"$dir/winboard.out" 2>&1) || fail "$name: WinBoard did not finish the match: $(tail -5 "$dir/winboard.out")"
    local side
    for side in white black; do
        tail -c 30 "$dir/$side/zormlog.txt" | grep -a -q $'==> quit\r\nSession ends\r\n$' \
            || fail "$name: the $side run did not end in order: $(tail -c 120 "$dir/$side/zormlog.txt")"
    done
    pkill -f "$emulator --link $dir/" || true
    "$check" "$dir/white/zormlog.txt" "$dir/game.pgn" || fail "$name: the game does not check out"
    grep -a -q '^ --> NEW [0-9-]* [0-9-]* w' "$dir/white/zormlog.txt" || fail "$name: the first engine did not play White"
    grep -a -q '^ --> NEW [0-9-]* [0-9-]* b' "$dir/black/zormlog.txt" || fail "$name: the second engine did not play Black"
    echo "$name: $(grep -a -o '^\[Result "[^"]*"\]' "$dir/game.pgn")"
}

# winboard_click WINDOW COLOUR SQUARE: 41-pixel squares from (5, 63).
winboard_click() { click_board "$@" 5 63 41; }

# A person against sorvanite-cecp2.exe, moves clicked on WinBoard's board:
# a game to the device's mate; then a take-back, which the device refuses by
# resigning (the popup is photographed); then the next game plays. WinBoard's
# Quit ends the run in order.
winboard_person() {
    local name=winboard-person dir=$out/winboard-person
    mkdir -p "$dir"
    printf '%b' "${device_black_script}OK\\ne7e5\\nOK\\nc7c5\\n" >"$dir/script.txt"
    start_device "$dir" --script "$dir/script.txt"
    map_port 5 "$dir"
    local args
    mapfile -t args < <(winboard_engine first cecp2 COM5 "$dir")
    (cd "$dir" && exec "$wine" "$SORVANITE_WINDOWS_GUI/winboard.exe" "${winboard_options[@]}" -cp "${args[@]}" \
        -tc 5 -inc 0 >"$dir/winboard.out" 2>&1) &
    local wb=$!
    pids+=($wb)
    local window
    window=$(find_window "$name" 'Sorvanite chess device$')
    wait_records "$dir" '^<== pong' 1 "engine set-ups"
    move_pause=0.5 play_clicked_game "$dir" white winboard_click "$window" "${person_white_moves[@]}"
    import -window "$window" "$out/$name-mate.png"
    xdotool windowfocus --sync "$window" key ctrl+n            # New Game
    wait_records "$dir" '^==> new' 2 "new games"
    click_move "$dir" winboard_click "$window" white e2e4
    wait_device_moves "$dir" 6
    xdotool windowfocus --sync "$window" key ctrl+x            # Retract Move
    wait_records "$dir" '^<== resign'$'\r' 1 "resignations"
    local popup
    popup=$(find_window "$name" '^Error$')
    import -window "$popup" "$out/$name-takeback.png"
    wait_records "$dir" '^==> result 1-0 \{Black resigns\}' 1 "game ends"
    xdotool windowfocus --sync "$popup" key Return
    xdotool windowfocus --sync "$window" key ctrl+n            # New Game
    wait_records "$dir" '^==> new' 3 "new games"
    click_move "$dir" winboard_click "$window" white d2d4
    wait_device_moves "$dir" 7
    xdotool windowfocus --sync "$window" key alt+f sleep 0.5 key q   # File > Quit
    for _ in $(seq 300); do kill -0 "$wb" 2>/dev/null || break; sleep 0.1; done
    tail -c 30 "$dir/zormlog.txt" | grep -a -q $'==> quit\r\nSession ends\r\n$' \
        || fail "$name: WinBoard's Quit did not end the run in order: $(tail -c 120 "$dir/zormlog.txt")"
    kill "$device_pid"
    echo "$name: a game to mate, a take-back refused with the game resigned, and the next game played"
}

if playing winboard; then
    if [ -z "${SORVANITE_WINDOWS_GUI:-}" ] || [ ! -f "${SORVANITE_WINDOWS_GUI:-}/winboard.exe" ]; then
        echo "xboard_games: SORVANITE_WINDOWS_GUI names no folder with winboard.exe; the WinBoard games are not played" \
            "(build them with shared/windows-gui/build.sh DIR, then set SORVANITE_WINDOWS_GUI=DIR)"
    elif [ -z "${SORVANITE_WINDOWS_CECP2:-}" ] || ! installed wine wine wineserver; then
        echo "xboard_games: no Windows programs to play; the WinBoard games are not played (cmake --workflow --preset windows)"
    else
        wine=/usr/lib/wine/wine64
        [ -x "$wine" ] || wine=$(command -v wine)
        export WINEPREFIX=$out/wineprefix WINEDEBUG=-all
        # mountmgr.sys off: it would point COM ports back at the host's.
        export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;mountmgr.sys=d"
        wineboot -i >/dev/null 2>&1 </dev/null
        wineserver -w
        rm -f "$WINEPREFIX"/dosdevices/com*
        # The engine lines and colours: each program as White and as Black.
        for row in "bridge cecp2" "cecp2 uci" "uci bridge"; do
            read -r white black <<<"$row"
            echo "== WinBoard: $white.exe (device, White) against $black.exe (device, Black)"
            game "winboard-$white-$black" winboard_match "winboard-$white-$black" "$white" "$black"
        done
        echo "== WinBoard: a person against sorvanite-cecp2.exe: a take-back, then a game to mate"
        game winboard-person winboard_person
        wineserver -k >/dev/null 2>&1 || true
    fi
fi

echo
echo "=== GUI games"
printf '%s\n' "${results[@]}"
echo "$(( ${#results[@]} - failures )) passed, $failures failed"
echo "xboard_games: artifacts in $out"
[ "$failures" -eq 0 ]
