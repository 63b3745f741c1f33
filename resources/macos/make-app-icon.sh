#!/usr/bin/env bash
# Draws the application icon with ImageMagick and packs it into AppIcon.icns
# (the ICNS container: "icns", total length, then one PNG per size, each
# behind its four-letter type and length, all lengths big-endian).
# Run it again after changing the drawing; the result is committed.
#   resources/macos/make-app-icon.sh [output.icns]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/AppIcon.icns}
command -v convert >/dev/null || { echo "make-app-icon: ImageMagick's convert is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The master at 1024 px: the artwork of resources/icons/chordwell.svg (the
# icon the application shows elsewhere), redrawn with ImageMagick's own
# primitives, since its SVG reader drops gradients, and placed on the macOS
# icon grid (a 824 px rounded square with a 100 px margin).
read -r -d '' artwork <<'MVG' || true
affine 3.43333 0 0 3.43333 72.533 72.533
push defs
push gradient 'bg' linear 0,8 0,248
stop-color '#3b7bf0' 0
stop-color '#2246b8' 1
pop gradient
push gradient 'key' linear 0,130 0,204
stop-color '#ffffff' 0
stop-color '#dfe6f5' 1
pop gradient
pop defs
push graphic-context
fill url(#bg)
roundrectangle 8,8 248,248 54,54
pop graphic-context
push graphic-context
fill '#15307f'
fill-opacity 0.55
roundrectangle 36,118 220,218 18,18
pop graphic-context
push graphic-context
fill url(#key)
roundrectangle 48,130 92,166 8,8
roundrectangle 106,130 150,166 8,8
roundrectangle 164,130 208,166 8,8
fill-opacity 0.9
roundrectangle 48,174 208,204 8,8
pop graphic-context
push graphic-context
fill none
stroke '#ffd24a'
stroke-width 12
stroke-linecap round
path 'M70 122 C70 70 186 70 186 122'
line 128,83 128,122
pop graphic-context
push graphic-context
fill '#ffd24a'
circle 128,60 128,76
pop graphic-context
MVG
convert -size 1024x1024 xc:none -draw "$artwork" -strip "PNG32:$work/master.png"

# Type codes of the PNG-carrying ICNS entries and their pixel sizes.
entries=(
    icp4:16 icp5:32 icp6:64 ic07:128 ic08:256 ic09:512 ic10:1024
    ic11:32 ic12:64 ic13:256 ic14:512
)

be32() {
    local n=$1
    printf "\\x$(printf %02x $(((n >> 24) & 255)))\\x$(printf %02x $(((n >> 16) & 255)))"
    printf "\\x$(printf %02x $(((n >> 8) & 255)))\\x$(printf %02x $((n & 255)))"
}

body="$work/body"
: >"$body"
for entry in "${entries[@]}"; do
    type=${entry%%:*}
    size=${entry##*:}
    png="$work/$type.png"
    convert "$work/master.png" -resize "${size}x${size}" -strip \
        -define png:exclude-chunks=date,time "PNG32:$png"
    length=$(($(stat -c %s "$png") + 8))
    { printf '%s' "$type"; be32 "$length"; cat "$png"; } >>"$body"
done
total=$(($(stat -c %s "$body") + 8))
{ printf 'icns'; be32 "$total"; cat "$body"; } >"$out"
echo "make-app-icon: wrote $out ($total bytes)"
