#!/usr/bin/env bash
# Takes the documentation's screenshots of the real program: the editor runs on a private
# X server (Xvfb) under a window manager (openbox) on a throw-away demonstration, and is
# driven with real key presses (xdotool). Each PNG is a window with its frame.
#   scripts/capturas.sh [OUTPUT FOLDER]     (default: docs/)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(realpath -m "${1:-$ROOT/docs}")"
cd "$ROOT"

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DETAPAS_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target etapas etapas-admin >/dev/null
mkdir -p "$OUT"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/etapas-capturas.XXXXXX")"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

export ETAPAS_DATA="$WORK/data"
mkdir -p "$ETAPAS_DATA"
build/etapas-admin demo >/dev/null

# Point 0002's server answers the connection and then says nothing, like a store whose
# machine hangs: the progress window is shown while the editor waits on it.
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$PORT" <<'EOF' &
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(8)
time.sleep(600)
EOF
PIDS+=($!)
echo "SUCURSAL2 = postgresql 127.0.0.1:$PORT" >"$ETAPAS_DATA/servers.conf"

DISPLAY_NUMBER=77
while [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ]; do DISPLAY_NUMBER=$((DISPLAY_NUMBER + 1)); done
export DISPLAY=":$DISPLAY_NUMBER"
Xvfb "$DISPLAY" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
PIDS+=($!)
sleep 1

COMMAND_LINE="@Server=DEMO; @DbName=EMPRESA1; @Usuario=OPERADOR; @Password=OPERADOR; @UsuarioLogeado=OPERADOR; @Caja=1;"
SKIN_SECTION="$(id -un | tr '[:lower:]' '[:upper:]')Styles"

# The newest window whose title matches.
window() { timeout 20 xdotool search --sync --onlyvisible --name "$1" | tail -1 || true; }
# The window manager's frame around a client window (the client itself without one).
frame() {
  local id=$1 parent root
  root=$(xwininfo -root | awk '/Window id:/ {print $4}')
  while :; do
    parent=$(xwininfo -tree -id "$id" | awk '/Parent window id:/ {print $4}')
    [ -z "$parent" ] || [ "$((parent))" -eq "$((root))" ] && break
    id=$parent
  done
  echo "$id"
}
shot() {
  if [ -z "$1" ]; then
    echo "capturas: no window for $2" >&2
    return
  fi
  # Under Xvfb a window mapped over another one can stay unpainted until it is moved:
  # a move there and back makes it draw itself.
  sleep 0.8
  xdotool windowmove --sync --relative "$1" 40 30 2>/dev/null || true
  sleep 0.3
  xdotool windowmove --sync --relative "$1" -- -40 -30 2>/dev/null || true
  sleep 0.8
  # The screen as the operator sees it, cut to the framed window.
  local geometry
  geometry=$(xwininfo -id "$(frame "$1")" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
  # shellcheck disable=SC2086
  xwd -silent -root | xwdtopnm 2>/dev/null | pnmcut $geometry | pnmtopng >"$OUT/$2.png"
  echo "$OUT/$2.png"
}
keys() { xdotool key --delay 120 "$@"; }
# Cancels what is open: Esc, and Yes when the editor asks first.
cancel() {
  keys Escape
  local box
  box=$(timeout 3 xdotool search --sync --onlyvisible --name "^Atención!!!$" | tail -1 || true)
  if [ -n "$box" ]; then keys alt+s; fi
  sleep 0.5
}
typed() { xdotool type --delay 80 "$1"; }

start_editor() {
  printf '[%s]\r\nStyles=%s\r\n' "$SKIN_SECTION" "$1" >"$ETAPAS_DATA/kt512rl.ini"
  build/etapas "$COMMAND_LINE" >"$WORK/etapas.log" 2>&1 &
  EDITOR_PID=$!
  EDITOR=$(window "^Tabla de Status$")
  xdotool windowactivate --sync "$EDITOR"
  sleep 0.5
}
stop_editor() {
  kill "$EDITOR_PID" 2>/dev/null || true
  wait "$EDITOR_PID" 2>/dev/null || true
}

# A window just shown over the editor is moved aside before it is used: Xvfb shows it
# painted only after that.
aside() {
  if [ -n "$1" ]; then
    sleep 1.5
    xdotool windowmove --sync "$1" 100 100 2>/dev/null || true
    sleep 0.5
  fi
}

# The default skin: the tour of the window.
start_editor 1
shot "$EDITOR" editor-idle
typed "0004"
keys Return
keys End
typed " EN TALLER"
shot "$EDITOR" editor-editing
# A status with no previous one; into the list by keyboard (Tab past the colour and the
# type options), then Space and Shift+Down.
cancel
typed "0001"
keys Return Tab Tab Tab Down Down space shift+Down shift+Down
shot "$EDITOR" editor-list-keyboard
cancel
keys F7
LISTING=$(window "Planilla")
shot "$LISTING" listing
keys Escape
stop_editor

# Each of the other windows in an editor of its own.
start_editor 1
keys F3
LOOKUP=$(window "Consulta")
aside "$LOOKUP"
typed "reparacion"
shot "$LOOKUP" lookup
stop_editor

# Cancelling asks first, No being the default.
start_editor 1
typed "0004"
keys Return End
typed " EN TALLER"
keys Escape
BOX=$(window "^Atención!!!$")
aside "$BOX"
shot "$BOX" message-box
stop_editor

# Saving carries the status to the points of sale: 0002's store hangs.
start_editor 1
typed "0005"
keys Return F5
PROGRESS=$(window "Enviando cambios")
aside "$PROGRESS"
shot "$PROGRESS" progress
stop_editor

for skin in 1 2 3 4 5; do
  start_editor "$skin"
  typed "0004"
  keys Return
  shot "$EDITOR" "skin-$skin"
  stop_editor
done
