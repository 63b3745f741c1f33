#!/usr/bin/env bash
# Launches the real application twice with the same runtime folder: the
# second launch must hand over to the first and exit with status 0 within
# 2 seconds, and the first must bring its main window forward.
# usage: single_instance_smoke.sh PATH_TO_CHORDWELL
set -euo pipefail
app="$1"
work="$(mktemp -d)"
first=""
cleanup() {
    if [[ -n "$first" ]]; then
        kill "$first" 2>/dev/null || true
        wait "$first" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

"$app" --verbose >"$work/first.log" 2>&1 &
first=$!
for _ in $(seq 1 200); do
    [[ -S "$XDG_RUNTIME_DIR/chordwell.socket" ]] && break
    kill -0 "$first" 2>/dev/null || { cat "$work/first.log"; echo "the first instance ended"; exit 1; }
    sleep 0.1
done
[[ -S "$XDG_RUNTIME_DIR/chordwell.socket" ]] || { echo "the first instance never listened"; exit 1; }

start=$(date +%s%N)
status=0
"$app" >"$work/second.log" 2>&1 || status=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
echo "second launch: status $status after ${elapsed_ms} ms"
[[ $status -eq 0 ]] || { cat "$work/second.log"; exit 1; }
((elapsed_ms <= 2000)) || { echo "the second launch took longer than 2 s"; exit 1; }

for _ in $(seq 1 50); do
    grep -q "launched again; showing the main window" "$work/first.log" && break
    sleep 0.1
done
grep -q "launched again; showing the main window" "$work/first.log" ||
    { cat "$work/first.log"; echo "the first instance did not show its window"; exit 1; }
kill -0 "$first" 2>/dev/null || { echo "the first instance ended"; exit 1; }
echo "single instance: hand-over ok"
