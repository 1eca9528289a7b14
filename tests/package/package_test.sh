#!/usr/bin/env bash
# Builds the Debian package from the source tree the way a user would (scripts/package),
# unpacks it into a scratch root with dpkg -x and checks what installing it gives:
# the file list, the package metadata and its dependencies, the desktop entry, the
# AppStream metainfo, the man page, and the installed binary showing its window
# under an X server of its own.
#   package_test.sh SOURCE_DIR
set -uo pipefail
src="${1:?source tree}"

work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-package.XXXXXX")
started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
die() { echo "FAIL: $*" >&2; exit 1; }

# Polls CONDITION (a command) every 0.1 s until it succeeds or SECONDS pass.
wait_for() {
    local seconds="$1"; shift
    local i
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# --- build ---------------------------------------------------------------------
if ! "$src/scripts/package" "$work/build" >"$work/package.log" 2>&1; then
    cat "$work/package.log" >&2
    die "scripts/package failed"
fi
deb=$(tail -n 1 "$work/package.log")
[ -f "$deb" ] || die "scripts/package did not end with the path of a .deb: '$deb'"

# --- package metadata ----------------------------------------------------------
version=$(sed -n 's/^project(quarvel VERSION \([0-9][0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || die "no VERSION in the top-level project()"
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "quarvel_${version}_${arch}.deb" ] ||
    fail "package file is $(basename "$deb"), expected quarvel_${version}_${arch}.deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quarvel ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', project says $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
for f in Maintainer Section Description; do
    [ -n "$(field "$f")" ] || fail "control field $f is empty"
done

# Depends must be computed from the binary (the Qt 6 runtime among it), and every
# entry must be satisfiable on this Debian, or apt install would refuse the package.
depends=$(field Depends)
for lib in libqt6widgets6 libqt6core6 libc6; do
    grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: '$depends'"
done
while IFS= read -r dep; do
    [ -z "$dep" ] && continue
    name=${dep%% *}
    have=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || { fail "dependency $name is not a known installed package"; continue; }
    if [[ "$dep" =~ \((\>=|\<=|\>\>|\<\<|=)\ ([^\)]+)\) ]]; then
        op=${BASH_REMATCH[1]} need=${BASH_REMATCH[2]}
        case "$op" in '>=') op=ge ;; '<=') op=le ;; '>>') op=gt ;; '<<') op=lt ;; '=') op=eq ;; esac
        dpkg --compare-versions "$have" "$op" "$need" || fail "dependency '$dep' not met by $name $have"
    fi
done < <(tr ',' '\n' <<<"$depends" | sed 's/^ *//')

# --- installed files -----------------------------------------------------------
root="$work/root"
dpkg -x "$deb" "$root" || die "dpkg -x failed"
app_id=io.github.quarvel.Quarvel
expected=(
    "usr/bin/quarvel"
    "usr/share/applications/$app_id.desktop"
    "usr/share/metainfo/$app_id.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    "usr/share/man/man1/quarvel.1.gz"
)
actual=$(cd "$root" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort)
want=$(printf '%s\n' "${expected[@]}" | sort)
[ "$actual" = "$want" ] || fail "installed files differ from the expected list:
$(diff <(echo "$want") <(echo "$actual"))"
outside=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "package installs outside /usr: $outside"

bin="$root/usr/bin/quarvel"
[ -x "$bin" ] || die "usr/bin/quarvel is not executable"
file -b "$bin" | grep -q '^ELF .* executable' || fail "usr/bin/quarvel is not an ELF executable: $(file -b "$bin")"
runpath=$(readelf -d "$bin" | grep -E 'RPATH|RUNPATH')
[ -z "$runpath" ] || fail "installed binary keeps a build-tree search path: $runpath"
missing_libs=$(ldd "$bin" | grep 'not found')
[ -z "$missing_libs" ] || fail "installed binary misses libraries: $missing_libs"

# --- desktop entry, metainfo, icon ---------------------------------------------
desktop="$root/usr/share/applications/$app_id.desktop"
metainfo="$root/usr/share/metainfo/$app_id.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"
# validate-tree also checks that the metainfo's launchable names an installed desktop file.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli rejects the installed tree"

exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/usr/bin/$exec_cmd" ] || fail "desktop Exec '$exec_cmd' is not an installed program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "desktop Icon '$icon' has no scalable icon in hicolor"
xmllint --noout "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "icon is not well-formed SVG"
release=$(xmllint --xpath 'string(//releases/release[1]/@version)' "$metainfo")
[ "$release" = "$version" ] || fail "metainfo release is '$release', project says $version"

# --- man page ------------------------------------------------------------------
man_page="$root/usr/share/man/man1/quarvel.1.gz"
if [ -f "$man_page" ]; then
    gzip -t "$man_page" || fail "man page is not valid gzip"
    lexgrog "$man_page" >/dev/null || fail "man page has no NAME section that whatis can read"
    man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$man_page" 2>&1 >/dev/null)
    [ -z "$man_warnings" ] || fail "man page renders with warnings: $man_warnings"
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$man_page" 2>/dev/null)
    for word in INTERVAL QUARVEL_SERIALCOMM 4099 "EXIT STATUS"; do
        grep -q "$word" <<<"$rendered" || fail "man page does not mention $word"
    done
fi

# --- the installed binary under X ----------------------------------------------
mkdir -p "$work/xdg" "$work/home" "$work/ports" && chmod 700 "$work/xdg"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
started+=("$!")
wait_for 20 test -s "$work/display" || { cat "$work/xvfb.log" >&2; die "Xvfb did not start"; }
display=":$(head -n 1 "$work/display")"

DISPLAY="$display" openbox --sm-disable >"$work/openbox.log" 2>&1 &
started+=("$!")
wait_for 20 env DISPLAY="$display" wmctrl -m >/dev/null 2>&1 || die "openbox did not start"

env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/xdg" LANG=C.UTF-8 \
    DISPLAY="$display" QT_QPA_PLATFORM=xcb QUARVEL_SERIALCOMM="$work/ports" \
    "$bin" >"$work/quarvel.log" 2>&1 &
app=$!
started+=("$app")

wid=$(DISPLAY="$display" timeout 30 xdotool search --sync --onlyvisible --pid "$app" 2>/dev/null | head -n 1)
if [ -z "$wid" ]; then
    cat "$work/quarvel.log" >&2
    kill -0 "$app" 2>/dev/null || die "installed quarvel ended before showing a window (another instance running?)"
    die "installed quarvel showed no window"
fi
caption_has_name() { DISPLAY="$display" xdotool getwindowname "$wid" | grep -qix quarvel; }
wait_for 10 caption_has_name ||
    fail "window caption '$(DISPLAY="$display" xdotool getwindowname "$wid")' does not name Quarvel"

# Docks and task bars tie the window to its menu entry through WM_CLASS.
wm_class=$(DISPLAY="$display" xprop -id "$wid" WM_CLASS)
startup_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
grep -q "\"$startup_class\"" <<<"$wm_class" ||
    fail "window $wm_class does not match the desktop entry's StartupWMClass '$startup_class'"

# The TCP feed is checked only once the tree has its server.
listening() { ss -ltnpH 'sport = :4099' | grep -q "pid=$app,"; }
wait_for 10 listening || fail "installed quarvel does not listen on TCP 4099: $(ss -ltnpH 'sport = :4099')"

# Closing the window the way a desktop does ends the program with status 0.
DISPLAY="$display" wmctrl -i -c "$wid" || fail "wmctrl could not close the window"
app_ended() { ! kill -0 "$app" 2>/dev/null; }
if wait_for 20 app_ended; then
    wait "$app"
    status=$?
    [ "$status" -eq 0 ] || fail "quarvel ended with status $status after its window was closed"
else
    fail "quarvel did not end after its window was closed"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package $(basename "$deb") passes"
