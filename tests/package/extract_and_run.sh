#!/usr/bin/env bash
# Builds the Debian package of a build tree, checks it with lintian, unpacks
# it into an empty root and runs the programs from there: chordwellctl
# validate and simulate, and the application offscreen on the simulated
# platform. The unpacked programs must not know the source tree: the
# application finds the catalog only where the package put it.
#
# usage: extract_and_run.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# ---------------------------------------------------------------- package
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB)"

if command -v lintian >/dev/null 2>&1; then
    # Errors fail the test; warnings are printed for whoever reads the log.
    lintian --fail-on error --allow-root --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
        { cat "$work/lintian.log" >&2; fail "lintian reports errors"; }
    grep -E '^[EW]:' "$work/lintian.log" || true
else
    echo "lintian not installed (scripts/install-deps installs it): not checked"
fi

# ------------------------------------------------------------------ unpack
root=$work/root
mkdir "$root"
dpkg-deb -x "$deb" "$root"
for path in usr/bin/chordwell usr/bin/chordwellctl usr/share/chordwell/shortcuts.json \
    usr/share/applications/chordwell.desktop usr/share/icons/hicolor/scalable/apps/chordwell.svg \
    usr/share/metainfo/com.palvane.Chordwell.metainfo.xml usr/lib/systemd/user/chordwell@.service \
    lib/udev/rules.d/60-chordwell-uinput.rules; do
    [[ -e "$root/$path" ]] || fail "the package lacks /$path"
done
dpkg-deb -I "$deb" postinst | grep -q 'udevadm control --reload-rules' ||
    fail "postinst does not reload the udev rules"
if dpkg-deb -I "$deb" postinst | grep -Eq 'systemctl|enable'; then
    fail "postinst enables something"
fi
for program in chordwell chordwellctl; do
    if grep -qF "$source/resources" "$root/usr/bin/$program"; then
        fail "the installed $program knows the source tree's resources"
    fi
done

# ---------------------------------------------------------------- run them
cd "$work"
export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
ctl=$root/usr/bin/chordwellctl
app=$root/usr/bin/chordwell

"$ctl" validate "$source/tests/cli/data/valid.json" >/dev/null || fail "validate of a valid file"
if "$ctl" validate "$source/tests/cli/data/invalid.json" >/dev/null 2>&1; then
    fail "validate accepted an invalid file"
fi
data=$source/tests/platform/data
"$ctl" simulate --mappings "$data/control-a-copy.json" "$data/control-a-copy.txt" >"$work/simulated" ||
    fail "chordwellctl simulate"
diff -u "$data/control-a-copy.expected" "$work/simulated" || fail "chordwellctl simulate output"

cat >"$work/script" <<'SCRIPT'
keyboard kb vendor=0x05AC product=0x024F name="Magic Keyboard"
select kb
status
SCRIPT
run_app() {
    timeout 60 "$app" --simulate "$work/script" --exit-when-done >"$work/app.out" 2>"$work/app.err"
}
run_app || { cat "$work/app.err" >&2; fail "the installed application"; }
grep -q '^.*status intercepting=false selected="Magic Keyboard"' "$work/app.out" ||
    { cat "$work/app.out" "$work/app.err" >&2; fail "the application did not play the script"; }
if grep -q 'shortcuts.json' "$work/app.err"; then
    cat "$work/app.err" >&2
    fail "the installed application did not load the installed catalog"
fi
# Without the installed catalog there is none: nothing else is read.
rm "$root/usr/share/chordwell/shortcuts.json"
run_app || { cat "$work/app.err" >&2; fail "the installed application without a catalog"; }
grep -q 'shortcuts.json not found' "$work/app.err" ||
    { cat "$work/app.err" >&2; fail "a catalog was found although the package's is gone"; }
echo PASS
