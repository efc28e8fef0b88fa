// The changes replication targets missed: their table in the home database, and serving
// them later with the walk's own row transfer.
#include "replication/pendientes.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/platform.h"
#include "components/reparto.h"
#include "components/schema_files.h"
#include "components/text.h"
#include "replication/desenlace.h"

namespace etapas {
namespace {

// Columns the transfer never sends or never updates: they take no part in a comparison.
constexpr const char* kNoComparadas[] = {
    "ID", "IMAGEN", "TRANSMISION", "RECEPCION", "OBSERVACIONES", "IMAGE", "DescripcionAdicional"};

std::string Q(const std::string& texto) {
  static const ClsDatos literales;
  return literales.ValorSQL(Variant(texto), "'");
}

// Runs one statement and tells whether the engine took it (refusals are not raised).
bool Ejecutar(ClsDatos& db, const std::string& sql) {
  try {
    if (db.Conexion()) db.Conexion()->Errors().Clear();
    db.EjecutarSQL(sql, 0, nullptr);
  } catch (const RaisedError&) { return false; }
  return db.Conexion() && db.Conexion()->Errors().Count() == 0;
}

// Whether the table (or one of its columns) is in the home database.
bool Existe(ClsDatos& casa, const char* columna = nullptr) {
  try {
    ado::ConnectionPtr conexion = casa.Conexion();
    if (!conexion) return false;
    ado::RecordsetPtr rs = conexion->OpenSchema(
        ado::kSchemaColumns, {Variant(casa.BaseDatos()), Variant(), Variant(std::string(kTablaPendientes)),
                              columna ? Variant(std::string(columna)) : Variant()});
    const bool existe = rs && !rs->EOF_();
    if (rs && rs->IsOpen()) rs->Close();
    return existe;
  } catch (const RaisedError&) { return false; }
}

// The rows a statement changed; -1 when the engine refused it.
long Afectadas(ClsDatos& db, const std::string& sql) {
  try {
    ado::Connection& conexion = db.ConexionAbierta();
    conexion.Errors().Clear();
    long filas = 0;
    conexion.Execute(sql, &filas, ado::kExecuteNoRecords);
    return conexion.Errors().Count() == 0 ? filas : -1;
  } catch (const RaisedError&) { return -1; }
}

// What makes two rows the same debt: target, table, key values and filter, as the engines
// compare them (letter case and trailing blanks aside). Each part carries its length, so
// no two debts share a key; a long one keeps its start and a digest of the whole.
std::string ClaveDe(const CambioPendiente& c) {
  std::string clave;
  auto parte = [&](const std::string& v) {
    const std::string k = text::CompareKey(v);
    clave += std::to_string(k.size()) + ":" + k + "|";
  };
  parte(c.Destino);
  parte(c.Tabla);
  for (const auto& v : c.Valores) parte(v);
  parte(c.Filtro);
  constexpr size_t kLargo = 400;
  if (clave.size() <= kLargo) return clave;
  auto fnv = [&](uint64_t h) {
    for (unsigned char ch : clave) h = (h ^ ch) * 1099511628211ULL;
    return h;
  };
  char resumen[40];
  std::snprintf(resumen, sizeof resumen, "#%016llx%016llx",
                static_cast<unsigned long long>(fnv(14695981039346656037ULL)),
                static_cast<unsigned long long>(fnv(0x9e3779b97f4a7c15ULL)));
  return clave.substr(0, 300) + resumen;
}

// Who is carrying a change: this process, on this machine.
const std::string& Portador() {
  static const std::string portador = [] {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return std::string(host) + ":" + std::to_string(getpid()) + ":" + std::to_string(std::time(nullptr));
  }();
  return portador;
}

// How long a claim holds: longer than any one transfer can wait on its target (every
// statement is bounded well below it), short enough that a killed process's changes are
// served by the next sincronizar run after it.
constexpr long kSegundosReclamo = 600;

// The home server's time plus some seconds, as a literal: claims expire by the home
// database's clock, whoever writes them. The server is asked once; then its offset is used.
std::string HoraCasaMas(long segundos) {
  static long long desfase = 0;
  static bool conocido = false;
  if (!conocido) {
    desfase = DateTime::Now().SecondsTo(FechaServidor());
    conocido = true;
  }
  return Q(DateTime::Now().AddSeconds(desfase + segundos).ToIso());
}

// home.sql's statement that starts with `inicio`, so a migrated database gets exactly what
// a new one has.
std::string SentenciaDeCasa(const std::string& inicio) {
  const auto& archivos = schema::Files();
  const auto it = archivos.find("home.sql");
  if (it == archivos.end()) return "";
  const std::string& casa = it->second;
  const size_t desde = text::FindNoCase(casa, inicio);
  if (desde == std::string::npos) return "";
  const size_t fin = casa.find(';', desde);
  if (fin == std::string::npos) return "";
  return casa.substr(desde, fin + 1 - desde);
}

const std::string kIndice = std::string("CREATE UNIQUE INDEX IX_REPLICACION_PENDIENTE_CLAVE");

// A table made by an earlier version: the columns that keep one row per debt and guard
// against lost updates, each row's key (the newest row of a debt kept), then the index.
bool Actualizar(ClsDatos& casa) {
  const std::string t = kTablaPendientes;
  if (!Ejecutar(casa, "BEGIN TRANSACTION")) return false;
  bool hecho = Ejecutar(casa, "ALTER TABLE " + t + " ADD CLAVE varchar(450) NULL") &&
               Ejecutar(casa, "ALTER TABLE " + t + " ADD VERSION int NOT NULL DEFAULT 1") &&
               Ejecutar(casa, "ALTER TABLE " + t + " ADD TOMADO varchar(100) NULL") &&
               Ejecutar(casa, "ALTER TABLE " + t + " ADD TOMADO_HASTA datetime NULL");
  if (hecho) {
    auto filas = ListarPendientes(casa);
    std::sort(filas.begin(), filas.end(), [](const auto& x, const auto& y) { return x.Id > y.Id; });
    std::set<std::string> vistas;
    for (const auto& f : filas) {
      const std::string clave = ClaveDe(f);
      const std::string donde = " WHERE ID = " + std::to_string(f.Id);
      hecho = hecho && (vistas.insert(clave).second ? Ejecutar(casa, "UPDATE " + t + " SET CLAVE = " + Q(clave) + donde)
                                                    : Ejecutar(casa, "DELETE FROM " + t + donde));
    }
    hecho = hecho && Ejecutar(casa, SentenciaDeCasa(kIndice));
  }
  if (!hecho) {
    Ejecutar(casa, "ROLLBACK TRANSACTION");
    return false;
  }
  return Ejecutar(casa, "COMMIT TRANSACTION");
}

std::string Texto(ado::Recordset& rs, const char* campo) { return ClsUtil::ValorCampo(rs.Fields(campo)).ToText(); }

bool EsLiteral(const std::string& v) {
  if (v.empty() || EsLiteralNumerico(v)) return true;
  size_t i = (v[0] == 'N' || v[0] == 'n') ? 1 : 0;
  if (v.size() < i + 2 || v[i] != '\'' || v.back() != '\'') return false;
  // Inside, a quote only as a doubled quote.
  for (size_t k = i + 1; k + 1 < v.size(); ++k) {
    if (v[k] != '\'') continue;
    if (k + 2 < v.size() && v[k + 1] == '\'')
      ++k;
    else
      return false;
  }
  return true;
}

// One condition: quotes balanced, and no separator or comment outside the literals.
bool EsCondicion(const std::string& f) {
  bool enLiteral = false;
  for (size_t i = 0; i < f.size(); ++i) {
    const char c = f[i];
    if (c == '\'') {
      enLiteral = !enLiteral;
      continue;
    }
    if (enLiteral) continue;
    if (c == ';') return false;
    if (i + 1 < f.size() && ((c == '-' && f[i + 1] == '-') || (c == '/' && f[i + 1] == '*'))) return false;
  }
  return !enLiteral;
}

bool Comparada(const std::string& columna) {
  for (const char* n : kNoComparadas)
    if (text::EqualsNoCase(columna, n)) return false;
  return true;
}

std::string SinCorchetes(const std::string& nombre) {
  if (nombre.size() >= 2 && nombre.front() == '[' && nombre.back() == ']')
    return text::ReplaceAll(nombre.substr(1, nombre.size() - 2), "]]", "]");
  return nombre;
}

// A key value compared as the engines compare text: letter case and trailing blanks aside.
std::string ClaveNormal(const std::string& v) { return text::CompareKey(v); }

bool EsNumerico(int tipo) { return ado::adtype::IsNumeric(tipo) || tipo == ado::adtype::kBoolean; }

struct Fila {
  std::vector<std::string> clave;  // normalised, for matching
  ValoresClave literales;          // the key as the walk's SQL literals
  bool claveConApostrofe = false;
  std::map<std::string, std::string> valores;  // column in upper case -> text
};

using Filas = std::map<std::vector<std::string>, Fila>;

// Every row of the table in a session, by key. Raises what the session raises.
Filas LeerFilas(ClsDatos& sesion, const std::string& tabla, const std::vector<std::string>& claves) {
  Filas filas;
  ado::RecordsetPtr rs;
  sesion.AbrirRecordset("SELECT * FROM " + tabla, rs, nullptr, 0, 1, -1, true);
  for (; rs && !rs->EOF_(); rs->MoveNext()) {
    Fila f;
    for (size_t k = 0; k < claves.size(); ++k) {
      ado::Field campo = rs->Fields(claves[k]);
      const std::string v = ClsUtil::ValorCampo(campo).ToText();
      f.clave.push_back(ClaveNormal(v));
      f.claveConApostrofe = f.claveConApostrofe || v.find('\'') != std::string::npos;
      f.literales[k] = EsNumerico(campo.Type()) && EsLiteralNumerico(v) ? v : Q(v);
    }
    for (long i = 0; i < rs->FieldCount(); ++i) {
      ado::Field campo = rs->Fields(i);
      if (Comparada(campo.Name())) f.valores[text::Upper(campo.Name())] = ClsUtil::ValorCampo(campo).ToText();
    }
    auto clave = f.clave;
    filas.emplace(std::move(clave), std::move(f));
  }
  if (rs && rs->IsOpen()) rs->Close();
  return filas;
}

// Whether the transfer would change the target's row: it compares each column's text
// ignoring letter case, and sends texts without their apostrophes.
bool Difiere(const Fila& casa, const Fila& destino) {
  for (const auto& [columna, valor] : destino.valores) {
    const auto it = casa.valores.find(columna);
    if (it == casa.valores.end()) continue;
    if (!text::EqualsNoCase(text::ReplaceAll(it->second, "'", ""), valor)) return true;
  }
  return false;
}

}  // namespace

bool AsegurarTablaPendientes(ClsDatos& casa) {
  if (Existe(casa, "TOMADO_HASTA")) return true;
  if (Existe(casa)) {
    Actualizar(casa);
  } else {
    const std::string tabla = SentenciaDeCasa(std::string("CREATE TABLE ") + kTablaPendientes);
    if (tabla.empty()) return false;
    if (Ejecutar(casa, "BEGIN TRANSACTION")) {
      if (Ejecutar(casa, tabla) && Ejecutar(casa, SentenciaDeCasa(kIndice)))
        Ejecutar(casa, "COMMIT TRANSACTION");
      else
        Ejecutar(casa, "ROLLBACK TRANSACTION");
    }
  }
  // Another program may have done it meanwhile: what matters is that it is there.
  return Existe(casa, "TOMADO_HASTA");
}

bool AnotarPendientes(ClsDatos& casa, std::vector<CambioPendiente>& cambios, bool propia) {
  for (const auto& c : cambios)
    if (c.Accion < 1 || c.Accion > 3 || text::Trim(c.Tabla).empty() || text::Trim(c.Destino).empty()) return false;
  const std::string t = kTablaPendientes;
  if (propia && !Ejecutar(casa, "BEGIN TRANSACTION")) return false;
  bool hecho = true;
  for (auto& c : cambios) {
    const std::string clave = Q(ClaveDe(c));
    const std::string nuevo = "UPDATE " + t + " SET ACCION = " + std::to_string(c.Accion) +
                              ", SERVER = " + Q(c.Servidor) + ", DBNAME = " + Q(c.Base) + ", MOTIVO = " + Q(c.Motivo) +
                              ", FECHA = getDate(), VERSION = VERSION + 1 WHERE CLAVE = " + clave;
    std::string valores;
    for (const auto& v : c.Valores) valores += Q(v) + ", ";
    const std::string alta = "INSERT INTO " + t +
                             " (TABLA, ACCION, VALOR1, VALOR2, VALOR3, VALOR4, VALOR5, VALOR6, FILTRO, DESTINO, "
                             "SERVER, DBNAME, MOTIVO, FECHA, CLAVE, VERSION) VALUES (" +
                             Q(c.Tabla) + ", " + std::to_string(c.Accion) + ", " + valores + Q(c.Filtro) + ", " +
                             Q(c.Destino) + ", " + Q(c.Servidor) + ", " + Q(c.Base) + ", " + Q(c.Motivo) +
                             ", getDate(), " + clave + ", 1)";
    // A row another recording inserted meanwhile makes the insert a duplicate: then it is
    // there to be moved on.
    long filas = Afectadas(casa, nuevo);
    if (filas == 0 && Afectadas(casa, alta) != 1) filas = Afectadas(casa, nuevo);
    if (filas < 0) {
      hecho = false;
      break;
    }
    ado::RecordsetPtr rs;
    try {
      casa.AbrirRecordset("SELECT ID FROM " + t + " WHERE CLAVE = " + clave, rs, nullptr, 0, 1, -1, true);
      c.Id = rs && !rs->EOF_() ? static_cast<long>(ValNumero(Texto(*rs, "ID"))) : 0;
    } catch (const RaisedError&) { c.Id = 0; }
    if (rs && rs->IsOpen()) rs->Close();
    if (c.Id == 0) {
      hecho = false;
      break;
    }
  }
  if (!propia) return hecho;
  if (!hecho) {
    Ejecutar(casa, "ROLLBACK TRANSACTION");
    return false;
  }
  return Ejecutar(casa, "COMMIT TRANSACTION");
}

bool RegistrarPendiente(ClsDatos& casa, const CambioPendiente& c) {
  std::vector<CambioPendiente> uno = {c};
  return AnotarPendientes(casa, uno);
}

std::vector<CambioPendiente> ListarPendientes(ClsDatos& casa, const std::string& tabla, const std::string& destino) {
  std::vector<CambioPendiente> cambios;
  std::string sql = "SELECT * FROM " + std::string(kTablaPendientes) + " WHERE 1 = 1";
  if (!tabla.empty()) sql += " AND TABLA = " + Q(tabla);
  if (!destino.empty()) sql += " AND DESTINO = " + Q(destino);
  sql += " ORDER BY DESTINO, ID";
  ado::RecordsetPtr rs;
  try {
    casa.AbrirRecordset(sql, rs, nullptr, 0, 1, -1, true);
    for (; rs && !rs->EOF_(); rs->MoveNext()) {
      CambioPendiente c;
      c.Id = static_cast<long>(ValNumero(Texto(*rs, "ID")));
      c.Tabla = Texto(*rs, "TABLA");
      c.Accion = static_cast<long>(ValNumero(Texto(*rs, "ACCION")));
      for (size_t i = 0; i < c.Valores.size(); ++i)
        c.Valores[i] = Texto(*rs, ("VALOR" + std::to_string(i + 1)).c_str());
      c.Filtro = Texto(*rs, "FILTRO");
      c.Destino = Texto(*rs, "DESTINO");
      c.Servidor = Texto(*rs, "SERVER");
      c.Base = Texto(*rs, "DBNAME");
      c.Motivo = Texto(*rs, "MOTIVO");
      c.Fecha = Texto(*rs, "FECHA");
      c.Version = static_cast<long>(ValNumero(Texto(*rs, "VERSION")));
      cambios.push_back(std::move(c));
    }
  } catch (const RaisedError&) { cambios.clear(); }
  if (rs && rs->IsOpen()) rs->Close();
  return cambios;
}

bool QuitarPendiente(ClsDatos& casa, long id) {
  return Ejecutar(casa, "DELETE FROM " + std::string(kTablaPendientes) + " WHERE ID = " + std::to_string(id));
}

bool DescartarPendiente(ClsDatos& casa, const std::string& tabla, const ValoresClave& valores,
                        const std::string& filtro, const std::string& destino) {
  CambioPendiente c;
  c.Tabla = tabla;
  c.Valores = valores;
  c.Filtro = filtro;
  c.Destino = destino;
  return Ejecutar(casa, "DELETE FROM " + std::string(kTablaPendientes) + " WHERE CLAVE = " + Q(ClaveDe(c)));
}

bool ActualizarMotivo(ClsDatos& casa, long id, const std::string& motivo) {
  return Ejecutar(casa, "UPDATE " + std::string(kTablaPendientes) + " SET MOTIVO = " + Q(motivo) +
                            ", FECHA = getDate() WHERE ID = " + std::to_string(id));
}

bool CambioValido(const CambioPendiente& c, std::string& motivo) {
  if (NombreSQL(c.Tabla) != c.Tabla || ClavesTabla(c.Tabla)[0].empty()) {
    motivo = "La tabla " + c.Tabla + " no es una tabla que se replique.";
    return false;
  }
  for (const auto& v : c.Valores) {
    if (EsLiteral(v)) continue;
    motivo = "El valor de clave " + v + " no es un valor SQL simple: no se envía.";
    return false;
  }
  if (!EsCondicion(c.Filtro)) {
    motivo = "El filtro " + c.Filtro + " no es una condición simple: no se envía.";
    return false;
  }
  if (c.Accion < 1 || c.Accion > 3) {
    motivo = "Acción desconocida " + std::to_string(c.Accion) + ".";
    return false;
  }
  return true;
}

ResultadoEntrega Transferir(const std::string& tabla, long accion, const std::string& tipos,
                            const std::string& servidor, const std::string& base, const ValoresClave& valores,
                            const std::string& filtro) {
  replicacion::Desenlace desenlace;
  bool completa = false;
  {
    replicacion::Anotando anotando(desenlace);
    completa = ReplicarEnDestino(tabla, accion, tipos, servidor, base, valores, filtro);
  }
  ResultadoEntrega r;
  r.motivo = desenlace.motivo;
  if (!completa) {
    r.entrega = Entrega::Detenida;
    if (r.motivo.empty()) r.motivo = "Se detuvo la replicación en este destino.";
  } else {
    r.entrega = desenlace.fallo ? Entrega::Fallida : Entrega::Servida;
  }
  return r;
}

namespace {

// The kind of change that sends the home row as it is now.
long AccionDeAhora(ClsDatos& casa, const CambioPendiente& c) {
  ado::RecordsetPtr rs;
  casa.AbrirRecordset("SELECT COUNT(*) FROM " + c.Tabla + ArmarFiltro(c.Filtro, ClavesTabla(c.Tabla), c.Valores), rs,
                      nullptr, 0, 1, -1, true);
  const bool enCasa = rs && !rs->EOF_() && ValNumero(rs->Fields(0L).Value().ToText()) > 0;
  if (rs && rs->IsOpen()) rs->Close();
  return enCasa ? (c.Accion == 3 ? 2 : c.Accion) : 3;
}

// The row's VERSION while this process holds its claim; 0 when the row is gone, -1 when
// another process holds it (or the home database did not answer).
long Reclamar(ClsDatos& casa, long id) {
  const std::string t = kTablaPendientes;
  const std::string donde = " WHERE ID = " + std::to_string(id);
  const long filas = Afectadas(
      casa, "UPDATE " + t + " SET TOMADO = " + Q(Portador()) + ", TOMADO_HASTA = " + HoraCasaMas(kSegundosReclamo) +
                donde + " AND (TOMADO IS NULL OR TOMADO = " + Q(Portador()) + " OR TOMADO_HASTA < getDate())");
  ado::RecordsetPtr rs;
  long version = -1;
  try {
    casa.AbrirRecordset("SELECT VERSION, TOMADO FROM " + t + donde, rs, nullptr, 0, 1, -1, true);
    if (!rs || rs->EOF_())
      version = 0;
    else if (filas == 1 && Texto(*rs, "TOMADO") == Portador())
      version = std::max(1L, static_cast<long>(ValNumero(Texto(*rs, "VERSION"))));
  } catch (const RaisedError&) { version = -1; }
  if (rs && rs->IsOpen()) rs->Close();
  return version;
}

}  // namespace

ResultadoEntrega ServirPendiente(const CambioPendiente& c, const std::string& tipos, const std::string& servidor,
                                 const std::string& base, Envio envio) {
  ClsDatos& casa = *SesionSistema.Datos;
  const std::string t = kTablaPendientes;
  const std::string donde = " WHERE ID = " + std::to_string(c.Id);
  const std::string mio = " AND TOMADO = " + Q(Portador());
  ResultadoEntrega r;
  if (!CambioValido(c, r.motivo)) {
    r.entrega = Entrega::Fallida;
    EnCasa([&] { ActualizarMotivo(casa, c.Id, r.motivo); });
    return r;
  }
  // A change recorded while it was being sent is sent again, a few times at most.
  for (int vuelta = 0; vuelta < 4; ++vuelta) {
    const long version = EnCasaValor([&] { return Reclamar(casa, c.Id); });
    if (version == 0) return {Entrega::Servida, ""};  // served meanwhile with a newer home row
    if (version < 0) {
      r.entrega = Entrega::Fallida;
      r.motivo = "Otro proceso está enviando este cambio a este destino; lo completará él o etapas-admin sincronizar.";
      return r;
    }
    try {
      const long accion = envio == Envio::ComoSeAnoto ? c.Accion : EnCasaValor([&] { return AccionDeAhora(casa, c); });
      r = Transferir(c.Tabla, accion, tipos, servidor, base, c.Valores, c.Filtro);
    } catch (const RaisedError& e) {
      r.entrega = Entrega::Fallida;
      r.motivo = "No se pudo leer la fila en la base de la empresa: " + e.Description();
    }
    if (r.entrega != Entrega::Servida) {
      EnCasa([&] {
        Ejecutar(casa, "UPDATE " + t + " SET TOMADO = NULL, TOMADO_HASTA = NULL, MOTIVO = " + Q(r.motivo) +
                           ", FECHA = getDate()" + donde + mio);
      });
      return r;
    }
    if (EnCasaValor([&] {
          return Afectadas(casa, "DELETE FROM " + t + donde + " AND VERSION = " + std::to_string(version) + mio);
        }) == 1)
      return r;
    envio = Envio::FilaDeAhora;
  }
  EnCasa([&] { Ejecutar(casa, "UPDATE " + t + " SET TOMADO = NULL, TOMADO_HASTA = NULL" + donde + mio); });
  return {Entrega::Fallida, "La fila cambió otra vez mientras se enviaba: queda pendiente."};
}

ResultadoDestino ServirPendientesDe(const std::string& destino, const std::string& tipos, const std::string& servidor,
                                    const std::string& base, const std::string& tabla) {
  ResultadoDestino r;
  const auto cambios = EnCasaValor([&] { return ListarPendientes(*SesionSistema.Datos, tabla, destino); });
  for (size_t i = 0; i < cambios.size(); ++i) {
    const ResultadoEntrega e = ServirPendiente(cambios[i], tipos, servidor, base);
    if (e.entrega == Entrega::Servida)
      ++r.servidos;
    else
      ++r.pendientes;
    if (e.entrega == Entrega::Detenida) {
      r.detenido = true;
      r.pendientes += static_cast<int>(cambios.size() - i - 1);
      break;
    }
  }
  return r;
}

ResultadoComparacion CompararDestino(const std::string& tabla, const std::string& destino, const std::string& tipos,
                                     const std::string& servidor, const std::string& base, bool borrarSobrantes) {
  ResultadoComparacion r;
  ClsDatos& casa = *SesionSistema.Datos;
  const ClavesDeTabla todas = ClavesTabla(tabla);
  std::vector<std::string> claves;
  for (const auto& c : todas)
    if (!c.empty()) claves.push_back(SinCorchetes(c));
  if (NombreSQL(tabla) != tabla || claves.empty() || claves.size() > ValoresClave().size()) {
    r.motivo = "La tabla " + tabla + " no se puede comparar por sus claves.";
    r.detenido = true;
    return r;
  }

  Filas enCasa, enDestino;
  try {
    EnCasa([&] { enCasa = LeerFilas(casa, tabla, claves); });
    ClsDatos lectura;
    lectura.AsignarDatoSesion(EnCasaValor([&] { return casa.DatoSesion(); }));
    lectura.Servidor(servidor.substr(0, servidor.find(':')));
    lectura.BaseDatos(base);
    // A replica's login name and password are its database name.
    lectura.Usuario(base);
    lectura.Clave(base);
    std::string cadena;
    // The store's one connection of the walk: let go by the transfer, then given back to it.
    SesionDestino().Desconectar();
    lectura.Conectar(false, 3, cadena, true, false);
    if (!lectura.Conectado()) {
      r.motivo = "No se pudo conectar con " + base + ": " + lectura.MotivoFallo();
      r.detenido = true;
      return r;
    }
    enDestino = LeerFilas(lectura, tabla, claves);
    lectura.Desconectar();
  } catch (const RaisedError& e) {
    r.motivo = "No se pudo leer la tabla " + tabla + ": " + e.Description();
    r.detenido = true;
    return r;
  }

  struct Arreglo {
    long accion;
    ValoresClave valores;
  };
  std::vector<Arreglo> arreglos;
  for (const auto& [clave, fila] : enCasa) {
    // The transfer writes texts without apostrophes: such a key would arrive as another.
    if (fila.claveConApostrofe) continue;
    const auto it = enDestino.find(clave);
    if (it == enDestino.end())
      arreglos.push_back({1, fila.literales});
    else if (Difiere(fila, it->second))
      arreglos.push_back({2, fila.literales});
  }
  for (const auto& [clave, fila] : enDestino) {
    if (enCasa.count(clave)) continue;
    if (borrarSobrantes)
      arreglos.push_back({3, fila.literales});
    else
      ++r.sobrantes;
  }

  for (size_t i = 0; i < arreglos.size(); ++i) {
    const auto& a = arreglos[i];
    const ResultadoEntrega e = Transferir(tabla, a.accion, tipos, servidor, base, a.valores, "");
    if (e.entrega == Entrega::Servida) {
      ++(a.accion == 3 ? r.borradas : r.corregidas);
      continue;
    }
    // What was not fixed is owed like any missed change.
    for (size_t k = i; k < arreglos.size(); ++k) {
      if (k > i && e.entrega != Entrega::Detenida) break;
      CambioPendiente p;
      p.Tabla = tabla;
      p.Accion = arreglos[k].accion;
      p.Valores = arreglos[k].valores;
      p.Destino = destino;
      p.Servidor = servidor;
      p.Base = base;
      p.Motivo = e.motivo;
      EnCasa([&] { RegistrarPendiente(casa, p); });
      ++r.fallidas;
    }
    if (r.motivo.empty()) r.motivo = e.motivo;
    if (e.entrega == Entrega::Detenida) {
      r.detenido = true;
      break;
    }
  }
  return r;
}

}  // namespace etapas
