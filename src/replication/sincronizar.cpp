#include "replication/sincronizar.h"

#include <map>
#include <vector>

#include "common/conexion_remota.h"
#include "common/mod_global.h"
#include "components/platform.h"
#include "components/pool_conexiones.h"
#include "components/reparto.h"
#include "components/text.h"
#include "replication/mod_grupos_emp.h"
#include "replication/pendientes.h"
#include "replication/recorrido.h"

namespace etapas {
namespace {

using replicacion::Destino;

constexpr const char* kTiposPuntoVenta = "111";

bool EsCasa(ClsDatos& casa) {
  try {
    casa.ConexionAbierta().Errors().Clear();
    casa.EjecutarSQL("SELECT TOP 0 CODIGO FROM V_TA_TPV", ado::kExecuteNoRecords, nullptr);
    return casa.Conexion()->Errors().Count() == 0;
  } catch (const RaisedError&) { return false; }
}

// The changes one target owes, served in order; a stop leaves the rest as they are.
void Servir(const std::vector<CambioPendiente>& cambios, const std::string& tipos, const std::string& servidor,
            const std::string& base, CuentaSincronizar& cuenta) {
  for (size_t i = 0; i < cambios.size(); ++i) {
    const ResultadoEntrega e = ServirPendiente(cambios[i], tipos, servidor, base);
    if (e.entrega == Entrega::Servida) {
      ++cuenta.servidos;
      continue;
    }
    ++cuenta.pendientes;
    if (cuenta.nota.empty()) cuenta.nota = "failed";
    if (e.entrega == Entrega::Detenida) {
      cuenta.pendientes += static_cast<int>(cambios.size() - i - 1);
      cuenta.nota = "stopped";
      return;
    }
  }
}

// What one point of sale is asked for in this run.
struct Trabajo {
  Destino* punto = nullptr;
  std::vector<CambioPendiente> servibles;
  int retenidos = 0;  // excluded from their table's family: held, never sent
  bool comparar = false;
};

// One point of sale's part of the run: what it owes, then its comparison when asked.
void ServirPunto(const Trabajo& t, const OpcionesSincronizar& o, const std::string& tablaComparada,
                 CuentaSincronizar& cuenta) {
  const Destino& p = *t.punto;
  // A point of sale's login name and password are its database name.
  if (!ConexionBaseRemota(p.servidor, p.base, p.base, p.base, p.codigo, "")) {
    const std::string aviso = "No se pudo conectar al Punto de ventas " + p.descripcion;
    Platform().MsgBox(aviso, mb::kInformation | mb::kOk, "Aviso al operador");
    EnCasa([&] {
      for (const auto& c : t.servibles) ActualizarMotivo(*SesionSistema.Datos, c.Id, aviso);
    });
    cuenta.pendientes += static_cast<int>(t.servibles.size()) + (t.comparar ? 1 : 0);
    cuenta.nota = "unreachable";
    return;
  }
  SesionRemotos().Desconectar();
  const std::string servidor = ExtraeServidor(text::TrimCopy(p.servidor));
  Servir(t.servibles, kTiposPuntoVenta, servidor, p.base, cuenta);
  if (!t.comparar || cuenta.nota == "stopped") return;
  const ResultadoComparacion r =
      CompararDestino(tablaComparada, text::TrimCopy(p.codigo), kTiposPuntoVenta, servidor, p.base, o.borrar);
  cuenta.corregidas += r.corregidas;
  cuenta.borradas += r.borradas;
  cuenta.sobrantes += r.sobrantes;
  cuenta.pendientes += r.fallidas;
  if (r.motivo.empty()) return;
  cuenta.aviso = r.motivo;
  if (cuenta.nota.empty()) cuenta.nota = "failed";
  if (r.fallidas == 0 && r.detenido) ++cuenta.pendientes;  // nothing compared: not in step
}

// One point of sale's count; false when there is nothing to tell of it.
bool ContarPunto(const Trabajo& t, const OpcionesSincronizar& o, const std::string& tablaComparada,
                 CuentaSincronizar& cuenta) {
  const Destino& p = *t.punto;
  cuenta.quien = text::TrimCopy(p.codigo) + " " + text::TrimCopy(p.base);
  cuenta.pendientes = t.retenidos;
  if (!p.habilitado) {
    // Kept for when it is enabled again; the walk does not serve it meanwhile.
    if (t.retenidos == 0) return false;
    cuenta.nota = "not enabled";
  } else if (t.retenidos > 0) {
    cuenta.nota = "excluded from a table's family";
  }
  if (!t.servibles.empty() || t.comparar) ServirPunto(t, o, tablaComparada, cuenta);
  return true;
}

}  // namespace

void CuentaSincronizar::Sumar(const CuentaSincronizar& c) {
  servidos += c.servidos;
  pendientes += c.pendientes;
  corregidas += c.corregidas;
  borradas += c.borradas;
  sobrantes += c.sobrantes;
}

FinSincronizar Sincronizar(const OpcionesSincronizar& o, const std::function<void(const CuentaSincronizar&)>& informe,
                           CuentaSincronizar& total, std::string& motivo) {
  ClsDatos& casa = *SesionSistema.Datos;
  total = CuentaSincronizar{};
  total.quien = "total";
  if (!EsCasa(casa)) {
    motivo = casa.BaseDatos() + " is not a home database (no V_TA_TPV)";
    return FinSincronizar::SinCasa;
  }
  if (!AsegurarTablaPendientes(casa)) {
    motivo = std::string("cannot create ") + kTablaPendientes + " in " + casa.BaseDatos();
    return FinSincronizar::SinCasa;
  }
  std::vector<Destino> puntos;
  try {
    ado::RecordsetPtr rs;
    casa.AbrirRecordset("SELECT * FROM V_TA_TPV ORDER BY CODIGO", rs, nullptr, 0, 1, -1, true);
    if (rs) puntos = replicacion::LeerPuntosDeVenta(*rs);
    if (rs && rs->IsOpen()) rs->Close();
  } catch (const RaisedError& e) {
    motivo = "cannot read the points of sale: " + e.Description();
    return FinSincronizar::SinCasa;
  }

  std::map<std::string, std::vector<CambioPendiente>> porDestino;
  for (auto& c : ListarPendientes(casa, o.tabla, o.punto))
    porDestino[text::Upper(text::TrimCopy(c.Destino))].push_back(std::move(c));
  auto tomar = [&](const std::string& destino) {
    std::vector<CambioPendiente> cambios;
    auto it = porDestino.find(text::Upper(text::TrimCopy(destino)));
    if (it == porDestino.end()) return cambios;
    cambios = std::move(it->second);
    porDestino.erase(it);
    return cambios;
  };
  if (!o.punto.empty() && o.punto != kDestinoGrupo && porDestino.empty()) {
    bool conocido = false;
    for (const auto& p : puntos) conocido = conocido || text::EqualsNoCase(text::TrimCopy(p.codigo), o.punto);
    if (!conocido) {
      motivo = "no point of sale has the code " + o.punto;
      return FinSincronizar::PuntoDesconocido;
    }
  }

  const std::string tablaComparada = o.tabla.empty() ? "V_TA_ETAPAS" : o.tabla;
  std::vector<Trabajo> trabajos;
  std::vector<const Destino*> probar;
  std::string tablaProbada;
  for (auto& p : puntos) {
    if (!o.punto.empty() && !text::EqualsNoCase(text::TrimCopy(p.codigo), o.punto)) continue;
    Trabajo t;
    t.punto = &p;
    for (auto& c : tomar(p.codigo)) {
      if (p.habilitado && replicacion::Recibe(p, c.Tabla))
        t.servibles.push_back(std::move(c));
      else
        ++t.retenidos;
    }
    t.comparar = p.habilitado && o.comparar && replicacion::Recibe(p, tablaComparada);
    if (!t.servibles.empty() || t.comparar) {
      probar.push_back(&p);
      if (tablaProbada.empty()) tablaProbada = t.servibles.empty() ? tablaComparada : t.servibles.front().Tabla;
    }
    trabajos.push_back(std::move(t));
  }
  std::string tiposGrupo;
  Destino grupo = replicacion::Grupo(tiposGrupo);
  std::vector<CambioPendiente> delGrupo, grupoRetenidos;
  if (o.punto.empty() || o.punto == kDestinoGrupo)
    for (auto& c : tomar(kDestinoGrupo)) (GrupoHabilitado(c.Tabla) ? delGrupo : grupoRetenidos).push_back(std::move(c));
  if (!delGrupo.empty()) {
    probar.push_back(&grupo);
    if (tablaProbada.empty()) tablaProbada = delGrupo.front().Tabla;
  }
  // Every store is connected at once: one that hangs costs one time-out for the run.
  replicacion::ProbarTodos(tablaProbada, probar);

  // Every store at once, the group's database last; the counts are told in that order.
  const bool conGrupo = !delGrupo.empty() || !grupoRetenidos.empty();
  Repartir(trabajos.size() + (conGrupo ? 1 : 0), replicacion::DestinosALaVez(), [&](size_t k) {
    CuentaSincronizar cuenta;
    if (k == trabajos.size()) {
      // The group's database, as the walk reaches it: through the group's settings.
      cuenta.quien = std::string(kDestinoGrupo) + " " + text::TrimCopy(grupo.base);
      cuenta.pendientes = static_cast<int>(grupoRetenidos.size());
      if (cuenta.pendientes > 0) cuenta.nota = "the group does not take the table";
      Servir(delGrupo, tiposGrupo, grupo.servidor, grupo.base, cuenta);
    } else if (!ContarPunto(trabajos[k], o, tablaComparada, cuenta)) {
      return;
    }
    EnTurnoSinEsperar([&informe, &total, cuenta] {
      informe(cuenta);
      total.Sumar(cuenta);
    });
  });

  // Targets V_TA_TPV no longer names: kept, so nothing owed is lost unseen.
  for (const auto& [destino, cambios] : porDestino) {
    CuentaSincronizar cuenta;
    cuenta.quien = text::TrimCopy(cambios.front().Destino);
    cuenta.pendientes = static_cast<int>(cambios.size());
    cuenta.nota = "not registered";
    informe(cuenta);
    total.Sumar(cuenta);
  }
  PoolConexiones::Compartido().Vaciar();
  return FinSincronizar::Hecho;
}

}  // namespace etapas
