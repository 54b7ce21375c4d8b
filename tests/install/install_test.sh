#!/usr/bin/env bash
# The installed program folder, as a packager and as a user get it.
#
#   install_test.sh prefix  BUILD SOURCE PROGRAM...   cmake --install into a temporary folder
#   install_test.sh user    BUILD SOURCE PROGRAM...   scripts/install.sh and --uninstall in a temporary home
#   install_test.sh archive BUILD SOURCE PROGRAM...   the CPack archive
#
# PROGRAM... are the programs the build installs (the install rules' list).
set -euo pipefail
mode=$1 build=$2 source=$3
shift 3
programs=("$@")
build_real=$(realpath "$build")
source_real=$(realpath "$source")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

icon_sizes=(16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256)
demo_files=(MainPro.ini upset.ini pro.mdb "2026年12月信息价.zdj" web/Orvanta.htm "图标/材料.bmp")

# The programs, the demo data and nothing of the build tree: FOLDER is complete.
check_program_folder() {
  local folder=$1 p
  for p in "${programs[@]}"; do
    check "$p is installed and runs" test -x "$folder/$p"
    # No runtime path into the build tree (or anywhere): it would break once
    # the build is gone, and could load libraries from a folder not ours.
    if readelf -d "$folder/$p" | grep -qE 'R(UN)?PATH'; then fail "$p carries a runtime path"; fi
    # Nor a path of the build or the sources compiled into its data (a helper
    # program or a file found there works only until the build is gone).
    if readelf -p .rodata "$folder/$p" 2>/dev/null | grep -qF -e "$build_real" -e "$source_real"; then
      fail "$p holds a path into the build or source folder"
    fi
  done
  for p in "${demo_files[@]}"; do check "demo file $p" test -s "$folder/$p"; done
  for p in Velmora Quennar; do
    [ -e "$folder/$p" ] || fail "$p is missing"
  done
  if compgen -G "$folder/*.zdj" >/dev/null; then :; else fail "no library installed"; fi
}

# The programs start from the folder and do their work there.
check_programs_start() {
  local folder=$1 out
  export QT_QPA_PLATFORM=offscreen
  out=$(timeout 120 "$folder/velmora-cli" browse "$folder" tree) || fail "velmora-cli browse failed"
  grep -q . <<<"$out" || fail "velmora-cli browse printed no category tree"

  # The updater with an empty list address ends at once, quietly.
  printf '""\r\n"Velmora"\r\n""\r\n""\r\n' >"$folder/upset.ini"
  timeout 60 "$folder/Quennar" || fail "Quennar did not end cleanly with an empty list address"

  # The main window shows (a picture of it is taken) and the program ends.
  if [ -n "${VELMORA_SKIP_WINDOW_START:-}" ]; then
    echo "Velmora not started (VELMORA_SKIP_WINDOW_START)"
    return 0
  fi
  timeout 180 "$folder/Velmora" --splash-ms=100 --screenshot="$work/window.png" --screenshot-delay=1000 \
    || fail "Velmora did not start and end"
  check "Velmora drew its window" test -s "$work/window.png"
}

check_desktop_entry() {
  local entry=$1 folder=$2
  check "desktop entry $entry" test -f "$entry"
  desktop-file-validate "$entry" || fail "desktop entry does not validate"
  grep -qxF "Exec=\"$folder/Velmora\"" "$entry" || fail "desktop entry does not start $folder/Velmora"
  grep -qx 'Categories=Office;' "$entry" || fail "desktop entry is not in Office"
  grep -q '^Name\[zh_CN\]=' "$entry" || fail "desktop entry has no Chinese name"
}

check_icons() {
  local root=$1 size
  for size in "${icon_sizes[@]}"; do
    check "icon $size" test -s "$root/hicolor/$size/apps/velmora.png"
    file "$root/hicolor/$size/apps/velmora.png" | grep -q "PNG image data, ${size/x/ x }," ||
      fail "icon $size is not a PNG of that size"
  done
  check "scalable icon" test -s "$root/hicolor/scalable/apps/velmora.svg"
}

case "$mode" in
prefix)
  folder="$work/program folder"
  # As the README gives it: the default install, then the demo data on request.
  cmake --install "$build" --prefix "$folder" >/dev/null
  cmake --install "$build" --prefix "$folder" --component demo >/dev/null
  check_program_folder "$folder"
  check_desktop_entry "$folder/share/applications/velmora.desktop" "$folder"
  check_icons "$folder/share/icons"
  check_programs_start "$folder"
  ;;

user)
  export HOME="$work/home"
  unset XDG_DATA_HOME
  mkdir -p "$HOME"
  share=$HOME/.local/share
  folder=$share/velmora
  "$source/scripts/install.sh" --no-build --build-dir "$build" --demo >/dev/null
  check_program_folder "$folder"
  check_desktop_entry "$share/applications/velmora.desktop" "$folder"
  check_icons "$share/icons"
  check "the manifest is kept" test -s "$folder/.install-manifest"
  check "the updater can write into the program folder" test -w "$folder"

  # The user adds a library of their own and a page; the updater replaces a
  # library that came with the install and writes its log.
  echo "a user's library" >"$folder/2027年01月信息价.zdj"
  mkdir -p "$folder/web/mine" && echo "<p>mine</p>" >"$folder/web/mine/note.htm"
  echo "updated by the updater" >"$folder/2026年12月信息价.zdj"
  echo "log" >"$folder/Quennar.log"
  unchanged_library="$folder/2026年11月信息价.zdj"
  check "second library installed" test -s "$unchanged_library"

  # Installing again keeps all of that.
  "$source/scripts/install.sh" --no-build --build-dir "$build" --demo >/dev/null
  grep -qx "updated by the updater" "$folder/2026年12月信息价.zdj" || fail "a reinstall overwrote a changed library"
  check "a reinstall kept the user's library" test -s "$folder/2027年01月信息价.zdj"

  "$source/scripts/install.sh" --uninstall >/dev/null
  for p in "${programs[@]}"; do [ ! -e "$folder/$p" ] || fail "uninstall left $p"; done
  [ ! -e "$unchanged_library" ] || fail "uninstall left an unchanged library it installed"
  [ ! -e "$folder/MainPro.ini" ] || fail "uninstall left MainPro.ini"
  [ ! -e "$folder/swf" ] || fail "uninstall left the banner folder"
  [ ! -e "$folder/.install-manifest" ] || fail "uninstall left its manifest"
  [ ! -e "$share/applications/velmora.desktop" ] || fail "uninstall left the menu entry"
  [ ! -e "$share/icons/hicolor/48x48/apps/velmora.png" ] || fail "uninstall left an icon"
  [ ! -e "$share/icons" ] || fail "uninstall left the icon folders it created"
  grep -qx "a user's library" "$folder/2027年01月信息价.zdj" || fail "uninstall removed the user's library"
  grep -qx "updated by the updater" "$folder/2026年12月信息价.zdj" || fail "uninstall removed a changed library"
  check "uninstall kept the user's page" test -f "$folder/web/mine/note.htm"
  check "uninstall kept the updater's log" test -f "$folder/Quennar.log"
  [ ! -e "$folder/web/Orvanta.htm" ] || fail "uninstall left an installed page"
  if "$source/scripts/install.sh" --uninstall >/dev/null 2>&1; then fail "a second uninstall reported success"; fi

  # Without anything of the user's, nothing is left at all.
  rm -rf "$HOME" && mkdir -p "$HOME"
  "$source/scripts/install.sh" --no-build --build-dir "$build" >/dev/null
  "$source/scripts/install.sh" --uninstall >/dev/null
  leftover=$(find "$HOME" -mindepth 1)
  [ -z "$leftover" ] || fail "uninstall left: $leftover"
  ;;

archive)
  (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G TGZ -B "$work/pack" >/dev/null)
  archive=$(find "$work/pack" -maxdepth 1 -name '*.tar.gz' | head -1)
  check "an archive was made" test -s "$archive"
  mkdir -p "$work/x" && tar -xzf "$archive" -C "$work/x"
  top=$work/x/opt/velmora
  for p in "${programs[@]}"; do check "$p in the archive" test -x "$top/$p"; done
  check_icons "$top/share/icons"
  check "desktop entry in the archive" test -f "$top/share/applications/velmora.desktop"
  check_desktop_entry "$top/share/applications/velmora.desktop" /opt/velmora
  ;;
*)
  echo "unknown mode $mode" >&2
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "ok"
