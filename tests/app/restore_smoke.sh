#!/usr/bin/env bash
# The application restores its keyboard and interception at launch: a first
# run on the simulated platform selects "Magic Keyboard" and turns its
# mappings on; a second run, whose script only plugs the keyboard in a moment
# after the start and types Control+A, sees Copy and no A. A third run with
# "Resume mappings at launch" turned off sees the A.
# usage: restore_smoke.sh PATH_TO_CHORDWELL
set -euo pipefail
app="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
mkdir -p "$XDG_DATA_HOME/Chordwell/Mappings" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cat >"$XDG_DATA_HOME/Chordwell/Mappings/05AC-024F.json" <<'JSON'
{"id":"6F1C2B1E-8B0A-4C55-9A43-2D2C7B1E0A01","productName":"Magic Keyboard","productID":591,"vendorID":1452,"mappings":[{"id":"0C5E1A44-1F7B-4E0B-8D1A-7B3C9E2F4A01","name":"Copy","inputKeyCodes":[224,4],"outputBehavior":{"kind":"copyOperation"}}]}
JSON
run() { # script-file output-file
    "$app" --simulate "$1" --exit-when-done >"$2" 2>"$work/err" || {
        echo "chordwell failed:" >&2
        cat "$work/err" >&2
        exit 1
    }
}
cat >"$work/first" <<'SCRIPT'
keyboard kb vendor=0x05AC product=0x024F location=7 name="Magic Keyboard"
select kb
intercept
wait 50
status
SCRIPT
run "$work/first" "$work/out1"
grep -q 'status intercepting=true selected="Magic Keyboard"' "$work/out1" || {
    echo "the first run did not intercept:" >&2
    cat "$work/out1" >&2
    exit 1
}
cat >"$work/second" <<'SCRIPT'
wait 50
status
keyboard kb vendor=0x05AC product=0x024F location=7 name="Magic Keyboard"
wait 50
down kb 0xE0
down kb 0x04
up kb 0x04
up kb 0xE0
status
SCRIPT
run "$work/second" "$work/out2"
cut -d' ' -f2- "$work/out2" >"$work/got"
cat >"$work/want" <<'WANT'
status intercepting=true selected="Magic Keyboard"
flagsChanged ⌃ keyCode=59 flags=0x40000
keyDown C keyCode=8 flags=0x100000
keyUp C keyCode=8 flags=0x100000
keyUp A keyCode=0 flags=0x40000
flagsChanged ⌃ keyCode=59 flags=0x0
status intercepting=true selected="Magic Keyboard"
WANT
if ! diff -u "$work/want" "$work/got"; then
    echo "the second run did not resume (stderr below)" >&2
    cat "$work/err" >&2
    exit 1
fi
# The setting turned off: the next launch leaves the keyboard alone.
ini="$XDG_CONFIG_HOME/Chordwell/preferences.ini"
grep -q '^last_keyboard=' "$ini" || { echo "nothing remembered in $ini" >&2; exit 1; }
printf 'resume_mappings_at_launch=false\n' >>"$ini"
run "$work/second" "$work/out3"
grep -q 'keyDown A keyCode=0' "$work/out3" && grep -q 'status intercepting=false selected=none' "$work/out3" || {
    echo "with resuming off the third run still resumed:" >&2
    cat "$work/out3" >&2
    exit 1
}
echo PASS
