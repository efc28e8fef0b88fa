#!/usr/bin/env bash
# Builds the programs (Release), lays the demonstration in the data root ($ETAPAS_DATA
# when set, else the default one) and opens the editor on it. Without a display it runs
# the editor headless instead: it opens status 0003 and shows the window's state.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DETAPAS_TESTS=OFF
cmake --build build -j"$(nproc)" --target etapas etapas-admin

"$ROOT/build/etapas-admin" demo
COMMAND_LINE="@Server=DEMO; @DbName=EMPRESA1; @Usuario=OPERADOR; @Password=OPERADOR; @UsuarioLogeado=OPERADOR; @Caja=1;"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$ROOT/build/etapas" "$COMMAND_LINE"
fi

echo
echo "No display: the editor runs headless on the demonstration."
printf 'type 0 0003\nkey 0 13\ndump\n' | "$ROOT/build/etapas" --script - "$COMMAND_LINE"
echo
echo "Statuses of DEMO/EMPRESA1:"
"$ROOT/build/etapas-admin" sql --server DEMO --database EMPRESA1 \
  "SELECT CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS ORDER BY CODIGOESTADO"
