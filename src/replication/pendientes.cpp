// The changes replication targets missed: their table in the home database, and serving
// them later with the walk's own row transfer.
#include "replication/pendientes.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/platform.h"
#include "components/schema_files.h"
#include "components/text.h"

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

bool ExisteTabla(ClsDatos& casa) {
  try {
    ado::ConnectionPtr conexion = casa.Conexion();
    if (!conexion) return false;
    ado::RecordsetPtr rs = conexion->OpenSchema(
        ado::kSchemaColumns, {Variant(casa.BaseDatos()), Variant(), Variant(std::string(kTablaPendientes)), Variant()});
    const bool existe = rs && !rs->EOF_();
    if (rs && rs->IsOpen()) rs->Close();
    return existe;
  } catch (const RaisedError&) { return false; }
}

// home.sql's statement for the table, so a migrated database gets exactly what a new one has.
std::string SentenciaTabla() {
  const auto& archivos = schema::Files();
  const auto it = archivos.find("home.sql");
  if (it == archivos.end()) return "";
  const std::string& casa = it->second;
  const size_t inicio = text::FindNoCase(casa, std::string("CREATE TABLE ") + kTablaPendientes);
  if (inicio == std::string::npos) return "";
  const size_t fin = casa.find(");", inicio);
  if (fin == std::string::npos) return "";
  return casa.substr(inicio, fin + 2 - inicio);
}

// The condition that finds a target's row of a table: table, key values, filter and target.
std::string CondicionFila(const std::string& tabla, const ValoresClave& valores, const std::string& filtro,
                          const std::string& destino) {
  std::string sql = " WHERE TABLA = " + Q(tabla);
  for (size_t i = 0; i < valores.size(); ++i) sql += " AND VALOR" + std::to_string(i + 1) + " = " + Q(valores[i]);
  return sql + " AND FILTRO = " + Q(filtro) + " AND DESTINO = " + Q(destino);
}

std::string Texto(ado::Recordset& rs, const char* campo) { return ClsUtil::ValorCampo(rs.Fields(campo)).ToText(); }

// Forwards everything to the platform in place and keeps the first message shown: the
// transfer tells every failure in a message, and nothing else.
class PlataformaVigilada : public PlataformaDelegada {
 public:
  explicit PlataformaVigilada(Plataforma& base) : PlataformaDelegada(base) {}
  int MsgBox(const std::string& prompt, int style, const std::string& title) override {
    if (!avisado) primerAviso = prompt;
    avisado = true;
    return interior_.MsgBox(prompt, style, title);
  }

  bool avisado = false;
  std::string primerAviso;
};

class Vigilancia {
 public:
  Vigilancia() : anterior_(Platform()), vigilada(anterior_) { SetPlatform(&vigilada); }
  ~Vigilancia() { SetPlatform(&anterior_); }
  Vigilancia(const Vigilancia&) = delete;
  Vigilancia& operator=(const Vigilancia&) = delete;

 private:
  Plataforma& anterior_;

 public:
  PlataformaVigilada vigilada;
};

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
  if (ExisteTabla(casa)) return true;
  const std::string sentencia = SentenciaTabla();
  if (sentencia.empty()) return false;
  Ejecutar(casa, sentencia);
  // Another program may have created it meanwhile: what matters is that it is there.
  return ExisteTabla(casa);
}

bool RegistrarPendiente(ClsDatos& casa, const CambioPendiente& c) {
  if (c.Accion < 1 || c.Accion > 3 || text::Trim(c.Tabla).empty() || text::Trim(c.Destino).empty()) return false;
  std::string valores;
  for (const auto& v : c.Valores) valores += Q(v) + ", ";
  const std::string alta = "INSERT INTO " + std::string(kTablaPendientes) +
                           " (TABLA, ACCION, VALOR1, VALOR2, VALOR3, VALOR4, VALOR5, VALOR6, FILTRO, DESTINO, "
                           "SERVER, DBNAME, MOTIVO, FECHA) VALUES (" +
                           Q(c.Tabla) + ", " + std::to_string(c.Accion) + ", " + valores + Q(c.Filtro) + ", " +
                           Q(c.Destino) + ", " + Q(c.Servidor) + ", " + Q(c.Base) + ", " + Q(c.Motivo) + ", getDate())";
  // The older row goes only when the newer one is in.
  if (!Ejecutar(casa, "BEGIN TRANSACTION")) return false;
  const bool hecho = Ejecutar(casa, "DELETE FROM " + std::string(kTablaPendientes) +
                                        CondicionFila(c.Tabla, c.Valores, c.Filtro, c.Destino)) &&
                     Ejecutar(casa, alta);
  if (!hecho) {
    Ejecutar(casa, "ROLLBACK TRANSACTION");
    return false;
  }
  return Ejecutar(casa, "COMMIT TRANSACTION");
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
  return Ejecutar(casa,
                  "DELETE FROM " + std::string(kTablaPendientes) + CondicionFila(tabla, valores, filtro, destino));
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
  Vigilancia vigilancia;
  const bool completa = ReplicarEnDestino(tabla, accion, tipos, servidor, base, valores, filtro);
  ResultadoEntrega r;
  r.motivo = vigilancia.vigilada.primerAviso;
  if (!completa) {
    r.entrega = Entrega::Detenida;
    if (r.motivo.empty()) r.motivo = "Se detuvo la replicación en este destino.";
  } else {
    r.entrega = vigilancia.vigilada.avisado ? Entrega::Fallida : Entrega::Servida;
  }
  return r;
}

ResultadoEntrega ServirPendiente(const CambioPendiente& c, const std::string& tipos, const std::string& servidor,
                                 const std::string& base) {
  ClsDatos& casa = *SesionSistema.Datos;
  ResultadoEntrega r;
  long accion = c.Accion;
  if (CambioValido(c, r.motivo)) {
    try {
      // The home row as it is now decides what the target gets.
      ado::RecordsetPtr rs;
      casa.AbrirRecordset("SELECT COUNT(*) FROM " + c.Tabla + ArmarFiltro(c.Filtro, ClavesTabla(c.Tabla), c.Valores),
                          rs, nullptr, 0, 1, -1, true);
      const bool enCasa = rs && !rs->EOF_() && ValNumero(rs->Fields(0L).Value().ToText()) > 0;
      if (rs && rs->IsOpen()) rs->Close();
      accion = enCasa ? (accion == 3 ? 2 : accion) : 3;
      r = Transferir(c.Tabla, accion, tipos, servidor, base, c.Valores, c.Filtro);
    } catch (const RaisedError& e) {
      r.entrega = Entrega::Fallida;
      r.motivo = "No se pudo leer la fila en la base de la empresa: " + e.Description();
    }
  } else {
    r.entrega = Entrega::Fallida;
  }
  if (r.entrega == Entrega::Servida)
    QuitarPendiente(casa, c.Id);
  else
    ActualizarMotivo(casa, c.Id, r.motivo);
  return r;
}

ResultadoDestino ServirPendientesDe(const std::string& destino, const std::string& tipos, const std::string& servidor,
                                    const std::string& base, const std::string& tabla) {
  ResultadoDestino r;
  const auto cambios = ListarPendientes(*SesionSistema.Datos, tabla, destino);
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
    enCasa = LeerFilas(casa, tabla, claves);
    ClsDatos lectura;
    lectura.AsignarDatoSesion(casa.DatoSesion());
    lectura.Servidor(servidor.substr(0, servidor.find(':')));
    lectura.BaseDatos(base);
    // A replica's login name and password are its database name.
    lectura.Usuario(base);
    lectura.Clave(base);
    std::string cadena;
    lectura.Conectar(false, 3, cadena, true, false);
    if (!lectura.Conectado()) {
      r.motivo = "No se pudo conectar con " + base + ": " + lectura.MotivoFallo();
      r.detenido = true;
      return r;
    }
    enDestino = LeerFilas(lectura, tabla, claves);
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
      RegistrarPendiente(casa, p);
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
