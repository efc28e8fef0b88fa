#!/usr/bin/env bash
# Builds the programs (Release) and lays the demonstration in the data root
# ($ETAPAS_DATA when set, else the default one), then lists its statuses.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

ADMIN="$ROOT/build/etapas-admin"
"$ADMIN" demo
echo
echo "Statuses of DEMO/EMPRESA1:"
"$ADMIN" sql --server DEMO --database EMPRESA1 \
  "SELECT CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS ORDER BY CODIGOESTADO"
