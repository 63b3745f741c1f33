#!/usr/bin/env bash
# Starts the real application on the simulated platform with a stored mapping
# file, plays a script that intercepts Control+A, and compares what reached
# the focused application (times removed: they are real time here).
# usage: simulate_smoke.sh PATH_TO_CHORDWELL
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
cat >"$work/script" <<'SCRIPT'
keyboard kb vendor=0x05AC product=0x024F name="Magic Keyboard"
select kb
intercept
down kb 0xE0
down kb 0x04
wait 30
up kb 0x04
up kb 0xE0
intercept
down kb 0x05
up kb 0x05
status
SCRIPT
"$app" --simulate "$work/script" --exit-when-done >"$work/out" 2>"$work/err" || {
    echo "chordwell failed:" >&2
    cat "$work/err" >&2
    exit 1
}
cut -d' ' -f2- "$work/out" >"$work/got"
cat >"$work/want" <<'WANT'
flagsChanged ⌃ keyCode=59 flags=0x40000
keyDown C keyCode=8 flags=0x100000
keyUp C keyCode=8 flags=0x100000
keyUp A keyCode=0 flags=0x40000
flagsChanged ⌃ keyCode=59 flags=0x0
keyDown B keyCode=11 flags=0x0
keyUp B keyCode=11 flags=0x0
status intercepting=false selected="Magic Keyboard"
WANT
if ! diff -u "$work/want" "$work/got"; then
    echo "unexpected events (full output above, stderr below)" >&2
    cat "$work/err" >&2
    exit 1
fi
# The log file of the run says interception started, and never what was typed.
log="$XDG_DATA_HOME/Chordwell/Logs/chordwell.log"
grep -q "In startIntercepting(...)..." "$log" || { echo "no log line in $log" >&2; exit 1; }
# A script argument that is not a regular file is refused at once with
# status 2: a FIFO would block the start, a device never ends, and a folder
# used to run nothing and succeed.
mkfifo "$work/fifo"
for bad in /dev/zero "$work" "$work/fifo"; do
    status=0
    timeout 60 "$app" --simulate "$bad" --exit-when-done >/dev/null 2>"$work/err" || status=$?
    if [[ $status -ne 2 ]] || ! grep -q "not a regular file" "$work/err"; then
        echo "--simulate $bad: exit $status, expected 2 with a message" >&2
        cat "$work/err" >&2
        exit 1
    fi
done
# --help prints the usage on standard output and succeeds.
status=0
"$app" --help >"$work/help" 2>"$work/err" || status=$?
if [[ $status -ne 0 ]] || ! grep -q '^usage: chordwell' "$work/help" || ! grep -q -- '--demo' "$work/help"; then
    echo "--help: exit $status, expected 0 with the usage on standard output" >&2
    cat "$work/help" "$work/err" >&2
    exit 1
fi
echo PASS
