#!/usr/bin/env bash
# Watch a signed update happen, and a tampered one refused.
#
# Builds Quennar, the demo program folder and the signed demo release (its key
# pair is made at build time in build/demo-release), serves the release on
# 127.0.0.1:8765, and runs Quennar twice on fresh copies of the demo folder
# whose upset.ini carries the demo's public key:
#   1. the release as published: the page web/whatsnew.htm is installed;
#   2. the same release with one byte of its list changed: refused, nothing
#      installed ("升级列表的签名无效，已停止升级。" on a display; without one
#      the run is a silent start-up launch and its note goes to the terminal).
# Nothing outside a scratch folder is changed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target Quennar demo_folder demo_release

release=build/demo-release
port=8765
if [ ! -f "$release/served/list.ini" ] || [ ! -x build/demo-folder/Quennar ]; then
  echo "The demo release or the demo program folder is not built." >&2
  exit 1
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quennar-demo-XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

cp -a "$release/served" "$scratch/served"
key=$(sed -n 2p "$release/demo.pub")
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$scratch/served" >"$scratch/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  curl -sf "http://127.0.0.1:$port/list.ini" >/dev/null && break
  sleep 0.1
done
curl -sf "http://127.0.0.1:$port/list.ini" >/dev/null || { echo "Port $port is taken or the server did not start." >&2; exit 1; }

# Without a display the window runs offscreen, and the runs are start-up
# launches (the marker 更新.ini), so that no message box waits for a click.
export QT_LOGGING_RULES="velmora.updater=true"
startup=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  startup=1
fi

run_quennar() {
  local app="$scratch/$1"
  rm -rf "$app"
  cp -a build/demo-folder "$app"
  # upset.ini: caption and program of the main program, list address, groups, key.
  printf '"建材信息价查询系统"\r\n"Velmora"\r\n"http://127.0.0.1:%s/list.ini"\r\n""\r\n"%s"\r\n' "$port" "$key" |
    iconv -f UTF-8 -t GBK >"$app/upset.ini"
  rm -f "$app/Quennar.log" "$app/Quennar.ini" "$app/web/whatsnew.htm"
  [ -n "$startup" ] && printf '"Velmora"\r\n' >"$app/更新.ini"
  timeout 120 "$app/Quennar" || true
  if [ -f "$app/web/whatsnew.htm" ]; then
    echo "    installed: web/whatsnew.htm; Quennar.log: $(iconv -f GBK -t UTF-8 "$app/Quennar.log" | tr -d '\r' | head -1)"
  else
    echo "    nothing installed; Quennar.ini $( [ -f "$app/Quennar.ini" ] && echo kept || echo 'not written')"
  fi
}

echo "1. The signed release (key $(sed -n 1p "$release/demo.pub" | awk '{print $NF}')):"
run_quennar signed

echo "2. The same release with one byte of its list changed:"
sed -i 's/V2.7/V2.8/' "$scratch/served/list.ini"
run_quennar tampered
