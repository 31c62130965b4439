#!/usr/bin/env bash
# Tests of what gets installed.
#   package-test.sh install-layout BUILD_DIR
#       `cmake --install` into a scratch prefix; every file in its XDG place,
#       the desktop entry and the AppStream metadata without a remark from
#       their validators.
#   package-test.sh deb BUILD_DIR release|sanitized
#       Builds the .deb with cpack and has lintian find neither error nor
#       warning in it. Then, only in CI (CI=true) and as root, since it
#       changes the machine: installs it with dpkg, checks the installed files
#       and runs /usr/bin/brimlet on the test display until its icon docks.
# Exit status 77 means skipped.
set -uo pipefail

mode=${1:?mode}
build=${2:?build directory}
skip() {
  echo "skipped: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

work=$(mktemp -d)
cleanups=()
cleanup() {
  for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do
    eval "${cleanups[i]}"
  done
  rm -rf "$work"
}
trap cleanup EXIT

# check_layout ROOT: the files of an installed Brimlet under ROOT (a prefix).
check_layout() {
  local root=$1
  [[ -x "$root/bin/brimlet" ]] || fail "no program at $root/bin/brimlet"
  local desktop="$root/share/applications/brimlet.desktop"
  [[ -f "$desktop" ]] || fail "no $desktop"
  for line in "Type=Application" "Name=Brimlet" "Exec=brimlet" "Icon=brimlet" \
    "Categories=Utility;" "NoDisplay=false"; do
    grep -qx -- "$line" "$desktop" || fail "$desktop lacks '$line'"
  done
  grep -q "^Comment=." "$desktop" || fail "$desktop has no Comment"
  grep -q "^Terminal=true" "$desktop" && fail "$desktop asks for a terminal"
  local said
  if have desktop-file-validate; then
    said=$(desktop-file-validate "$desktop" 2>&1) && [[ -z "$said" ]] ||
      fail "desktop-file-validate on $desktop: $said"
  fi
  local metainfo="$root/share/metainfo/arpa.home.brimlet.metainfo.xml"
  [[ -f "$metainfo" ]] || fail "no $metainfo"
  if have appstreamcli; then
    # Not even a pedantic hint: every remark is printed as "X: file:line: tag".
    said=$(LC_ALL=C.UTF-8 appstreamcli validate --no-net --pedantic "$metainfo" 2>&1)
    (($? == 0)) && ! grep -q "^[A-Z]: " <<<"$said" || fail "appstreamcli on $metainfo: $said"
  fi
  local man="$root/share/man/man1/brimlet.1.gz"
  gzip -t "$man" 2>/dev/null || fail "no gzipped manual page at $man"
  if have man; then
    said=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man" 2>&1 >/dev/null) && [[ -z "$said" ]] ||
      fail "man reports on $man: $said"
  fi
  local doc="$root/share/doc/brimlet"
  head -n 1 "$doc/copyright" 2>/dev/null | grep -q "^Format: .*copyright-format/1.0/" ||
    fail "no machine-readable $doc/copyright"
  zcat "$doc/changelog.gz" 2>/dev/null | head -n 1 | grep -q "^brimlet (" ||
    fail "no changelog at $doc/changelog.gz"
  local icon="$root/share/icons/hicolor/scalable/apps/brimlet.svg"
  [[ -s "$icon" ]] || fail "no icon at $icon"
  grep -q "<svg" "$icon" || fail "$icon is not an SVG image"
  local qm="$root/share/brimlet/translations/brimlet_de.qm"
  [[ -s "$qm" ]] || fail "no German catalogue at $qm"
  echo "layout under $root: program, desktop entry, metadata, icon, translations, manual page," \
    "copyright and changelog in place"
}

# have TOOL: whether TOOL is there; in CI a missing checker is a failure,
# elsewhere its check is left out (tools/install-deps --test installs them).
have() {
  command -v "$1" >/dev/null && return 0
  [[ "${CI:-}" == "true" ]] && fail "$1 is missing (tools/install-deps --test installs it)"
  echo "not checked: $1 is missing"
  return 1
}

# docked_icon PID: prints the id of PID's docked tray icon window, if any.
docked_icon() {
  local id geometry
  for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    geometry=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null) || continue
    local width height
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    if ((width > 0 && width <= 64 && height <= 64)); then
      echo "$id"
      return 0
    fi
  done
  return 1
}

# panel_open PID: whether PID shows its 340x420 panel.
panel_open() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    if xdotool getwindowgeometry --shell "$id" 2>/dev/null | grep -qx "WIDTH=340"; then
      return 0
    fi
  done
  return 1
}

wait_until() {
  local tries=$1
  shift
  for ((n = 0; n < tries; n++)); do
    "$@" >/dev/null && return 0
    sleep 0.1
  done
  return 1
}

running() {
  kill -0 "$1" 2>/dev/null
}

case "$mode" in
install-layout)
  cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
  check_layout "$work/prefix"
  exit 0
  ;;
deb) ;;
*) fail "unknown mode $mode" ;;
esac

[[ "${3:-release}" == "release" ]] || skip "packages come from the release build, not a sanitizer build"
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps installs it)"
done

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'brimlet_*.deb' | head -n 1)
[[ -n "$deb" ]] || { cat "$work/cpack.log"; fail "cpack made no brimlet_*.deb"; }
echo "built $(basename "$deb")"

# What a distribution checks first: no error and no warning from lintian.
have lintian || skip "built the package; lintian is missing to check it"
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian finds errors or warnings in the package"; }
echo "lintian: no error and no warning"

[[ "${CI:-}" == "true" ]] || skip "built and checked; installs a package on this machine only in CI (CI=true)"
[[ $(id -u) -eq 0 ]] || skip "built and checked; installs a package on this machine only as root"
for tool in dpkg apt-get; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps --test installs it)"
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt6svg6 qt6-qpa-plugins libqt6widgets6 libc6; do
  grep -q "\b$dep\b" <<<"$depends" || fail "the package does not depend on $dep"
done
[[ $(dpkg-deb -f "$deb" Package) == brimlet ]] || fail "the package is not called brimlet"
[[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "the package names no maintainer"

# Leave the machine as it was: remove the package again unless it was there.
if ! dpkg-query -W -f='${Status}' brimlet 2>/dev/null | grep -q "install ok installed"; then
  cleanups+=("dpkg --purge brimlet >/dev/null 2>&1")
fi
if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  # Missing dependencies leave it unconfigured; apt brings them and finishes.
  DEBIAN_FRONTEND=noninteractive apt-get -f install -y -qq >>"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "the package did not install"; }
fi
dpkg-query -W -f='${Status}' brimlet | grep -q "install ok installed" ||
  { cat "$work/dpkg.log"; fail "the package is not installed after dpkg -i"; }
check_layout /usr
dpkg -L brimlet | grep -qx /usr/bin/brimlet || fail "dpkg does not list /usr/bin/brimlet"

# The smoke run: the installed program on the test display, its icon docked,
# then a second start opens its panel and Ctrl+Q ends it with status 0.
[[ -n "${BRIMLET_TEST_DISPLAY:-}" ]] ||
  skip "installed and checked; the run needs the test display with a tray host (tools/test-all)"
mkdir -m 700 "$work/run"
run_brimlet() {
  # exec: the caller's $! is then Brimlet itself.
  exec env -u WAYLAND_DISPLAY DISPLAY="$BRIMLET_TEST_DISPLAY" QT_QPA_PLATFORM=xcb \
    XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 /usr/bin/brimlet "$@"
}
export DISPLAY=$BRIMLET_TEST_DISPLAY
run_brimlet 2>"$work/brimlet.err" &
pid=$!
cleanups+=("kill -9 $pid 2>/dev/null; wait $pid 2>/dev/null")
wait_until 150 docked_icon "$pid" ||
  { cat "$work/brimlet.err"; fail "the installed brimlet's tray icon never docked"; }
echo "the installed brimlet's tray icon docked"

run_brimlet 2>"$work/second.err" &
second=$!
wait_until 50 bash -c "! kill -0 $second 2>/dev/null" ||
  { kill -9 "$second"; fail "a second start of the installed brimlet did not end"; }
wait "$second" || { cat "$work/second.err"; fail "a second start ended with a failure"; }
running "$pid" || fail "the first brimlet ended when the second started"
wait_until 50 panel_open "$pid" || fail "a second start did not open the panel"
xdotool key ctrl+q
wait_until 50 bash -c "! kill -0 $pid 2>/dev/null" || fail "Ctrl+Q did not end brimlet"
wait "$pid"
status=$?
[[ $status -eq 0 ]] || { cat "$work/brimlet.err"; fail "brimlet ended with status $status"; }
echo "the installed brimlet ran, opened its panel for a second start and quit"
