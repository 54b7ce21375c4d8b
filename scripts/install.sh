#!/usr/bin/env bash
# Installs Velmora for the current user, or removes what it installed.
#
#   scripts/install.sh [--demo] [--build-dir DIR] [--no-build]
#   scripts/install.sh --uninstall
#
# The program folder is ~/.local/share/velmora/ (XDG_DATA_HOME/velmora): the
# programs, and with --demo the demo libraries and settings. It belongs to the
# user, so the updater can replace files in it as on the users' machines. The
# menu entry goes to ~/.local/share/applications/, the icons to
# ~/.local/share/icons/hicolor/.
#
# Every file installed is listed with its checksum in the folder's
# .install-manifest. --uninstall removes the listed programs, and the other
# listed files only while they are unchanged: a library or settings file the
# updater or the user changed is the user's now and stays, as does every file
# that was not installed here (the user's own libraries, the updater's log).
# A folder is removed only when nothing is left in it.
#
# --no-build installs what BUILD (default build/) already holds; otherwise the
# programs (and the demo folder) are built first.
set -euo pipefail
cd "$(dirname "$0")/.."

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
folder=$data_home/velmora
apps=$data_home/applications
icons=$data_home/icons
manifest=$folder/.install-manifest

build=build
demo=0
do_build=1
uninstall=0
while [ $# -gt 0 ]; do
  case "$1" in
    --demo) demo=1 ;;
    --no-build) do_build=0 ;;
    --build-dir) build=${2:?--build-dir needs a folder}; shift ;;
    --uninstall) uninstall=1 ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) echo "install.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

checksum() { sha256sum "$1" | cut -d' ' -f1; }

# The manifest: one line per file or folder, "KIND<TAB>CHECKSUM<TAB>PATH";
# KIND is program, file or dir (a folder this script created).
declare -A old_sum=() old_kind=()
read_manifest() {
  [ -f "$manifest" ] || return 0
  local kind sum path
  while IFS=$'\t' read -r kind sum path; do
    [ -n "$path" ] || continue
    old_kind[$path]=$kind
    old_sum[$path]=$sum
  done <"$manifest"
}

uninstall_all() {
  if [ ! -f "$manifest" ]; then
    echo "Nothing to remove: $manifest is missing (Velmora was not installed by this script)." >&2
    exit 1
  fi
  read_manifest
  local path
  local -a dirs=()
  for path in "${!old_kind[@]}"; do
    case "${old_kind[$path]}" in
      dir) dirs+=("$path") ;;
      program) rm -f -- "$path" ;;
      file)
        [ -e "$path" ] || continue
        if [ -f "$path" ] && [ "$(checksum "$path")" = "${old_sum[$path]}" ]; then
          rm -f -- "$path"
        else
          echo "Kept (changed since it was installed): $path"
        fi ;;
    esac
  done
  rm -f -- "$manifest"
  # Deepest folders first; a folder that still holds anything stays.
  printf '%s\n' "${dirs[@]}" | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2- |
    while IFS= read -r path; do rmdir -- "$path" 2>/dev/null || true; done
  if [ -d "$folder" ]; then
    echo "Removed Velmora; $folder keeps files that were not installed here."
  else
    echo "Removed Velmora."
  fi
}

if [ "$uninstall" -eq 1 ]; then
  uninstall_all
  exit 0
fi

if [ "$do_build" -eq 1 ]; then
  scripts/install-deps.sh
  cmake -S . -B "$build" >/dev/null
  targets=(velmora_programs)
  [ "$demo" -eq 1 ] && targets+=(demo_folder)
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
components=(programs desktop)
[ "$demo" -eq 1 ] && components+=(demo)
for c in "${components[@]}"; do
  cmake --install "$build" --prefix "$stage/$c" --component "$c" >/dev/null
done

read_manifest
declare -A new_kind=() new_sum=()

# Creates a folder (and the ones above it) and lists those it created.
make_dir() {
  local dir=$1 missing=()
  while [ ! -d "$dir" ]; do
    missing+=("$dir")
    dir=$(dirname "$dir")
  done
  mkdir -p -- "$1"
  for dir in "${missing[@]}"; do new_kind[$dir]=dir; new_sum[$dir]=-; done
}

# Puts SOURCE at TARGET as KIND. A file that is there and was not installed by
# this script, or was changed since, is the user's and stays (not for programs).
place() {
  local source=$1 target=$2 kind=$3
  if [ "$kind" != program ] && [ -e "$target" ]; then
    if [ "${old_kind[$target]:-}" != file ] || [ "$(checksum "$target")" != "${old_sum[$target]}" ]; then
      echo "Kept the existing $target"
      return 0
    fi
  fi
  make_dir "$(dirname "$target")"
  cp -f -- "$source" "$target.install-new"
  mv -f -- "$target.install-new" "$target"
  new_kind[$target]=$kind
  new_sum[$target]=$(checksum "$target")
}

make_dir "$folder"
while IFS= read -r -d '' f; do
  rel=${f#"$stage"/}
  component=${rel%%/*}
  rel=${rel#*/}
  case "$component:$rel" in
    programs:*) place "$f" "$folder/$rel" program ;;
    desktop:share/applications/*)
      # The entry names the program by its place: the user's program folder.
      sed "s|$stage/desktop|$(printf '%s' "$folder" | sed 's/[&|\\]/\\&/g')|g" "$f" >"$stage/entry"
      place "$stage/entry" "$apps/${rel#share/applications/}" file ;;
    desktop:share/icons/*) place "$f" "$icons/${rel#share/icons/}" file ;;
    demo:*) place "$f" "$folder/$rel" file ;;
  esac
done < <(find "${components[@]/#/$stage/}" -type f -print0)

# The new manifest: what was placed now, and what earlier installs placed
# that is still there.
{
  for p in "${!old_kind[@]}"; do
    [ -n "${new_kind[$p]:-}" ] && continue
    [ -e "$p" ] || continue
    printf '%s\t%s\t%s\n' "${old_kind[$p]}" "${old_sum[$p]}" "$p"
  done
  for p in "${!new_kind[@]}"; do
    printf '%s\t%s\t%s\n' "${new_kind[$p]}" "${new_sum[$p]}" "$p"
  done
} | sort -t$'\t' -k3 >"$manifest.new"
mv -f -- "$manifest.new" "$manifest"

# No desktop or icon cache is written: desktops read ~/.local/share as it is,
# and a cache would be one more file the uninstall did not install.
echo "Installed Velmora into $folder (menu entry: $apps/velmora.desktop)."
[ "$demo" -eq 1 ] || echo "Copy your material libraries (*.zdj), pro.mdb, MainPro.ini and upset.ini into $folder."
