#include "components/pool_conexiones.h"

#include <algorithm>

#include "components/error.h"
#include "components/reparto.h"
#include "components/text.h"
#include "engine/session.h"

namespace etapas {
namespace {

// What a new connection starts with (ado::Connection).
constexpr int kCommandTimeoutInicial = 30;
// Probes in flight at once (each on its own thread).
constexpr size_t kProbasALaVez = 32;

std::string Normal(const std::string& s) { return text::Lower(text::Trim(s)); }

}  // namespace

PoolConexiones& PoolConexiones::Compartido() {
  // Never destroyed: sessions may let their connections go while the program ends.
  static PoolConexiones* pool = new PoolConexiones;
  return *pool;
}

PoolConexiones::Clave PoolConexiones::ClaveDe(const std::string& servidor, const std::string& baseDatos,
                                              const std::string& usuario, const std::string& clave) {
  return {Normal(servidor), Normal(baseDatos), Normal(usuario), clave};
}

std::vector<PruebaConexion> PoolConexiones::Probar(const std::string& dataRoot,
                                                   const std::vector<DestinoConexion>& destinos, int timeoutSeconds,
                                                   const std::string& sqlPrueba) {
  Vaciar();
  std::vector<Clave> claves;
  std::vector<engine::ConnectRequest> pedidos;
  std::map<Clave, size_t> indice;
  for (const auto& d : destinos) {
    Clave k = ClaveDe(d.servidor, d.baseDatos, d.usuario, d.clave);
    if (indice.emplace(k, pedidos.size()).second) {
      engine::ConnectRequest r;
      r.dataRoot = dataRoot;
      r.server = d.servidor;
      r.database = d.baseDatos;
      r.user = d.usuario;
      r.password = d.clave;
      r.connectTimeoutSeconds = timeoutSeconds;
      pedidos.push_back(std::move(r));
      claves.push_back(std::move(k));
    }
  }
  auto conectados = engine::ConnectAll(pedidos, timeoutSeconds);
  std::vector<Entrada> nuevas(pedidos.size());
  // Every probe at once, each on its own connection: a store costs its round trips, not
  // theirs added up.
  Repartir(pedidos.size(), kProbasALaVez, [&](size_t i) {
    Entrada& e = nuevas[i];
    e.baseDatos = text::TrimCopy(pedidos[i].database);
    if (!conectados[i].session) {
      e.motivo = text::HideSecrets(conectados[i].error.description);
      return;
    }
    auto conexion = std::make_shared<ado::Connection>(std::move(conectados[i].session));
    // A store that stops answering in the middle of the probe costs its time-out only.
    if (timeoutSeconds > 0) conexion->SetCommandTimeout(timeoutSeconds);
    try {
      conexion->Execute(sqlPrueba, nullptr, ado::kExecuteNoRecords);
    } catch (const RaisedError&) {}
    if (conexion->Errors().Count() > 0) {
      e.motivo = text::HideSecrets(conexion->Errors().Item(0).Description);
      conexion->Close();
    } else if (!Preparar(*conexion, e.baseDatos)) {
      e.motivo = "La conexión no quedó lista después de la prueba.";
    } else {
      e.conexion = std::move(conexion);
    }
  });
  std::lock_guard lock(m_);
  entradas_.clear();
  for (size_t i = 0; i < pedidos.size(); ++i) entradas_[claves[i]] = std::move(nuevas[i]);
  activo_ = true;
  std::vector<PruebaConexion> resultado;
  for (const auto& d : destinos) {
    const Entrada& e = entradas_[ClaveDe(d.servidor, d.baseDatos, d.usuario, d.clave)];
    resultado.push_back({e.conexion != nullptr, e.motivo});
  }
  return resultado;
}

void PoolConexiones::Vaciar() {
  std::map<Clave, Entrada> entradas;
  {
    std::lock_guard lock(m_);
    activo_ = false;
    entradas = std::move(entradas_);
    entradas_.clear();
  }
  for (auto& [clave, e] : entradas)
    if (e.conexion && !e.prestada && e.conexion->IsOpen()) e.conexion->Close();
}

PoolConexiones::Estado PoolConexiones::EstadoDe(const std::string& servidor, const std::string& baseDatos,
                                                const std::string& usuario, const std::string& clave) const {
  std::lock_guard lock(m_);
  auto it = entradas_.find(ClaveDe(servidor, baseDatos, usuario, clave));
  if (it == entradas_.end()) return Estado::Ausente;
  if (!it->second.conexion) return Estado::Fallida;
  return it->second.prestada ? Estado::Prestada : Estado::Disponible;
}

size_t PoolConexiones::Abiertas() const {
  std::lock_guard lock(m_);
  size_t n = 0;
  for (const auto& [clave, e] : entradas_) n += e.conexion && e.conexion->IsOpen();
  return n;
}

PoolConexiones::Toma PoolConexiones::Tomar(const std::string& servidor, const std::string& baseDatos,
                                           const std::string& usuario, const std::string& clave,
                                           ado::ConnectionPtr& conexion, std::string& motivo) {
  std::lock_guard lock(m_);
  if (!activo_) return Toma::NoEsta;
  auto it = entradas_.find(ClaveDe(servidor, baseDatos, usuario, clave));
  if (it == entradas_.end()) return Toma::NoEsta;
  Entrada& e = it->second;
  if (!e.conexion) {
    motivo = e.motivo;
    return Toma::Fallo;
  }
  if (e.prestada) {
    // Its holder closed it, or still uses it: this session connects by itself.
    if (!e.conexion->IsOpen()) entradas_.erase(it);
    return Toma::NoEsta;
  }
  if (!e.conexion->IsOpen()) {
    entradas_.erase(it);
    return Toma::NoEsta;
  }
  e.prestada = true;
  conexion = e.conexion;
  return Toma::Conexion;
}

bool PoolConexiones::Devolver(const ado::ConnectionPtr& conexion) {
  std::string baseDatos;
  {
    std::lock_guard lock(m_);
    if (!activo_ || !conexion) return false;
    auto it = std::find_if(entradas_.begin(), entradas_.end(),
                           [&](const auto& par) { return par.second.conexion == conexion && par.second.prestada; });
    if (it == entradas_.end()) return false;
    baseDatos = it->second.baseDatos;
  }
  // Still lent while it is made ready, so no other session takes it meanwhile.
  const bool lista = Preparar(*conexion, baseDatos);
  std::lock_guard lock(m_);
  auto it = std::find_if(entradas_.begin(), entradas_.end(),
                         [&](const auto& par) { return par.second.conexion == conexion && par.second.prestada; });
  if (it == entradas_.end()) return false;  // the pool was emptied meanwhile
  if (!lista) {
    entradas_.erase(it);
    return false;
  }
  it->second.prestada = false;
  return true;
}

bool PoolConexiones::Preparar(ado::Connection& c, const std::string& baseDatos) {
  if (!c.IsOpen()) return false;
  try {
    // The next session gets it as a new connection would be.
    if (c.session().TranCount() > 0) c.Execute("ROLLBACK TRANSACTION");
    if (!text::EqualsNoCase(text::Trim(c.DefaultDatabase()), baseDatos)) c.SetDefaultDatabase(baseDatos);
  } catch (const RaisedError&) {}
  if (!c.IsOpen() || c.session().TranCount() > 0 || !text::EqualsNoCase(text::Trim(c.DefaultDatabase()), baseDatos)) {
    if (c.IsOpen()) c.Close();
    return false;
  }
  c.SetCommandTimeout(kCommandTimeoutInicial);
  c.Errors().Clear();
  return true;
}

}  // namespace etapas
