#!/usr/bin/env bash
# Runs README.md's blocks as a user pastes them, from the top of the
# repository: the package block, the block that builds from source,
# scripts/try, the XBoard block ten times in a row, the block that puts
# sorvanite-cecp2 on PATH, sorvanite-uci's, and ser2net's. apt-get does nothing
# here (the packages are installed), and XBoard is replaced by a scripted
# front end that plays a game through the engine command it is given.
# usage: readme_blocks.sh REPOSITORY SCRATCH
set -euo pipefail
repo=$1 scratch=$2
cd "$repo"
rm -rf "$scratch"
mkdir -p "$scratch/home"
export HOME=$scratch/home

fail() { echo "readme: $*" >&2; exit 1; }

# block HEADING [N]: the Nth sh block (default 1) of the section HEADING.
block() {
    awk -v heading="## $1" -v n="${2:-1}" '
        $0 == heading { inside = 1; next }
        inside && /^## / { exit }
        inside && /^```sh$/ { if (++count == n) { printing = 1; next } }
        printing && /^```$/ { exit }
        printing { print }' README.md
}

run_block() {
    local text
    text=$(block "$@")
    [ -n "$text" ] || fail "no block $2 in section '$1'"
    eval "$text"
}

sudo() { "$@"; }
apt-get() { :; }
# XBoard's place: plays a game with the engine it is given, in the engine
# directory it is given, and checks that the device answered.
xboard() {
    local engine= dir=
    while [ $# -gt 0 ]; do
        case $1 in
        -fcp) engine=$2; shift ;;
        -fd) dir=$2; shift ;;
        esac
        shift
    done
    local output
    output=$(cd "$dir" && printf 'new\nlevel 40 5 0\ne2e4\nd2d4\nquit\n' | $engine)
    [[ $output == $'Sorvanite\n1. ... '[a-h][1-8][a-h][1-8]$'\n2. ... '[a-h][1-8][a-h][1-8]* ]] \
        || fail "the game in XBoard's place went wrong: $output"
}
emulators() { pgrep -f "sorvanite-device --link $PWD/build/try/device-link" || true; }
# gone: waits until no emulated device serves build/try/device-link.
gone() {
    for _ in $(seq 50); do [ -z "$(emulators)" ] && return; sleep 0.1; done
    fail "the emulated device was not stopped"
}

echo "readme: Install"
# The package is built as written; installing it is check-packages' part.
apt() {
    [ "$1" = install ] && [ -f "$2" ] || fail "apt $*: there is no such package file"
    installed=$2
}
sorvanite-doctor() { [ -n "${installed:-}" ] || fail "the doctor ran before the package was installed"; }
run_block "Install"
[ -n "${installed:-}" ] || fail "the install block installed nothing"
unset -f apt sorvanite-doctor

echo "readme: Build from source"
run_block "Build from source"
[ -z "$(emulators)" ] || fail "an emulated device is already running on build/try/device-link"
# A block that fails must not leave its device behind: it would hold the
# test's output open.
trap 'pkill -f "sorvanite-device --link $PWD/build/try/device-link" || true' EXIT

echo "readme: Try it"
output=$(run_block "Try it" 2 2>/dev/null)
[[ $output == *"1. ... "* ]] || fail "scripts/try played no move: $output"

for i in $(seq 10); do
    echo "readme: Play it in XBoard, run $i"
    run_block "Play it in XBoard" 1 >/dev/null
    run_block "Play it in XBoard" 2
    gone
done

echo "readme: Other chess GUIs"
run_block "Other chess GUIs: sorvanite-cecp2" >/dev/null
[ "$(command -v sorvanite-cecp2)" = "$HOME/.local/bin/sorvanite-cecp2" ] || fail "sorvanite-cecp2 is not on PATH"
if command -v man >/dev/null; then
    man -w sorvanite-cecp2 >/dev/null || fail "man sorvanite-cecp2 finds no page"
fi
output=$(cd "$HOME" && printf 'xboard\nprotover 2\nnew\nusermove e2e4\nquit\n' | sorvanite-cecp2)
[[ $output == *$'\nmove '* ]] || fail "sorvanite-cecp2 from PATH played no move: $output"
echo "readme: UCI GUIs"
text=$(block "UCI GUIs: sorvanite-uci")
output=$(cd "$HOME" && eval "$text")
[[ $output == *$'uciok\nbestmove '[a-h][1-8][a-h][1-8] ]] || fail "sorvanite-uci played no move: $output"
if command -v ser2net >/dev/null; then
    echo "readme: A device on another machine"
    text=$(block "A device on another machine")
    output=$(eval "$text")
    rm -f zormlog.txt  # the block's run, in the top of the repository
    [[ $output == *"answer:  OK\r"* ]] || fail "the doctor did not talk through ser2net: $output"
    [[ $output == *$'uciok\nbestmove '[a-h][1-8][a-h][1-8]* ]] || fail "sorvanite-uci played no move through ser2net: $output"
else
    echo "readme: ser2net is not installed; the block for a device on another machine is not run"
fi
pkill -f "sorvanite-device --link $PWD/build/try/device-link"
gone
echo "readme: every block ran as written"
