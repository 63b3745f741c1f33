#!/usr/bin/env bash
# Runs `chordwell --demo --exit-when-done` as a user would try it: it must
# attach the demo keyboards, select the first, and leave nothing behind.
# usage: demo_smoke.sh PATH_TO_CHORDWELL
set -euo pipefail
app="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The user's own folders: the demo must not write into them.
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export TMPDIR="$work/tmp" QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
"$app" --demo --exit-when-done >"$work/out" 2>"$work/err" || {
    echo "chordwell --demo failed:" >&2
    cat "$work/err" >&2
    exit 1
}
grep -q 'status intercepting=false selected="Demo Keyboard"' "$work/out" || {
    echo "the demo keyboard was not selected:" >&2
    cat "$work/out" "$work/err" >&2
    exit 1
}
# The demo has the shortcut catalog (its "To" menu offers it).
if grep -q 'not found' "$work/err"; then
    echo "the demo misses a resource:" >&2
    cat "$work/err" >&2
    exit 1
fi
if [[ -n "$(ls -A "$TMPDIR")" ]]; then
    echo "the demo left its scratch folder behind: $(ls -A "$TMPDIR")" >&2
    exit 1
fi
if [[ -n "$(find "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" -type f)" ]]; then
    echo "the demo wrote into the user's folders:" >&2
    find "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" -type f >&2
    exit 1
fi
# A second demo brings the running one forward instead of starting another.
"$app" --demo >"$work/first-out" 2>"$work/first-err" &
first=$!
for _ in $(seq 50); do
    [[ -S "$XDG_RUNTIME_DIR/chordwell-demo/chordwell.socket" ]] && break
    sleep 0.1
done
status=0
timeout 30 "$app" --demo >"$work/second-out" 2>"$work/second-err" || status=$?
kill "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true
if [[ $status -ne 0 ]] || ! grep -q 'already running' "$work/second-out"; then
    echo "a second --demo: exit $status, expected 0 saying one is running" >&2
    cat "$work/second-out" "$work/second-err" "$work/first-err" >&2
    exit 1
fi
echo PASS
