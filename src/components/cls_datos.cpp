#include "components/cls_datos.h"

#include <iostream>
#include <utility>

#include "components/platform.h"
#include "components/pool_conexiones.h"
#include "components/text.h"
#include "components/sql_text.h"

namespace etapas {
namespace {

constexpr const char* kDatoSesionKey = "ETAPAS_DATA=";

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Compares two digit strings as numbers.
bool NumericLess(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

std::string FormatoCodigo(const std::string& codigo, int largo) {
  std::string c = text::TrimCopy(codigo);
  if (largo > 0 && AllDigits(c) && c.size() < static_cast<size_t>(largo))
    c.insert(0, static_cast<size_t>(largo) - c.size(), '0');
  return c;
}

void ClsDatos::Conectar(bool faltanDatos, long, std::string& cadenaConexion, bool, bool informarFallo) {
  Desconectar();
  motivoFallo_.clear();
  if (text::FindNoCase(cadenaConexion, "oracle") != std::string::npos) {
    motivoFallo_ = "Esta versión no tiene motor Oracle: no se puede abrir la conexión \"" +
                   text::HideSecrets(text::TrimCopy(cadenaConexion.substr(0, cadenaConexion.find(';')))) + "\".";
  } else if (faltanDatos) {
    motivoFallo_ = "No se indicó el servidor o el usuario de la base de datos.";
  } else {
    engine::ConnectRequest request;
    request.dataRoot = dataRoot_;
    request.server = servidor_;
    request.database = baseDatos_;
    request.user = usuario_;
    request.password = clave_;
    ado::ConnectionPtr prestada;
    switch (PoolConexiones::Compartido().Tomar(servidor_, baseDatos_, usuario_, clave_, prestada, motivoFallo_)) {
      case PoolConexiones::Toma::Conexion:
        conexion_ = std::move(prestada);
        conectado_ = true;
        dePool_ = true;
        return;
      case PoolConexiones::Toma::Fallo: break;
      case PoolConexiones::Toma::NoEsta: {
        engine::ProviderError error;
        auto session = engine::Connect(request, error);
        if (session) {
          conexion_ = std::make_shared<ado::Connection>(std::move(session));
          conectado_ = true;
          return;
        }
        // Shown to the operator and written to standard error.
        motivoFallo_ = text::HideSecrets(error.description);
      }
    }
  }
  if (informarFallo) {
    const std::string texto = TextoFallo();
    std::cerr << texto << std::endl;
    Platform().MsgBox(texto, mb::kCritical | mb::kOk, "Sin conexión");
  }
}

std::string ClsDatos::TextoFallo() const {
  const std::string raiz = dataRoot_.empty() ? engine::DefaultDataRoot() : dataRoot_;
  return "No se pudo conectar a la base de datos " + baseDatos_ + " del servidor " + servidor_ + ".\n\n" +
         "Motivo: " + motivoFallo_ + "\n\n" + "Qué hacer: las bases de datos de este equipo están en " + raiz +
         " (la variable ETAPAS_DATA elige otra carpeta; servers.conf, en " + engine::ConfigFolder() + " o en " + raiz +
         ", indica los servidores PostgreSQL). " +
         "Para probar el programa, cree la demostración con \"etapas-admin demo\"; para una empresa nueva, cree su "
         "base con \"etapas-admin init --server " +
         servidor_ + " --database " + baseDatos_ + " --kind home\".";
}

void ClsDatos::Desconectar() {
  conectado_ = false;
  if (!conexion_) return;
  const bool dePool = std::exchange(dePool_, false);
  ado::ConnectionPtr conexion = std::exchange(conexion_, std::make_shared<ado::Connection>(nullptr));
  if (dePool && PoolConexiones::Compartido().Devolver(conexion)) return;
  if (conexion->IsOpen()) conexion->Close();
}

bool ClsDatos::Conectado() const { return conectado_ && conexion_ && conexion_->IsOpen(); }

void ClsDatos::Conectado(bool value) { conectado_ = value && conexion_ && conexion_->IsOpen(); }

std::string ClsDatos::Proveedor() const { return Conectado() ? conexion_->Provider() : ""; }

std::string ClsDatos::DatoSesion() const { return kDatoSesionKey + RaizDatos(); }

std::string ClsDatos::RaizDatos() const { return dataRoot_.empty() ? engine::DefaultDataRoot() : dataRoot_; }

void ClsDatos::AsignarDatoSesion(const std::string& dato) {
  if (dato.rfind(kDatoSesionKey, 0) == 0) dataRoot_ = dato.substr(std::string(kDatoSesionKey).size());
}

ado::Connection& ClsDatos::RequireConnection() const {
  if (!conexion_ || !conexion_->IsOpen())
    throw RaisedError(
        errnum::kConnectionClosed,
        "The connection cannot be used to perform this operation. It is either closed or invalid in this context.",
        "ClsDatos");
  return *conexion_;
}

void ClsDatos::AbrirRecordset(const std::string& sql, ado::RecordsetPtr& rs, const ado::ConnectionPtr& conexion,
                              int cursor, int lock, int, bool) {
  ado::Connection& c = conexion ? *conexion : RequireConnection();
  // The recordset being replaced is closed first when nobody else holds it: its rows need
  // not be read to the end, and a failed open leaves a closed recordset, not stale rows.
  c.OpenRecordset(sql, cursor, lock, rs);
}

void ClsDatos::CerrarRecordset(ado::RecordsetPtr& rs) {
  // The object stays (closed), so a later use raises instead of touching nothing.
  if (rs && rs->IsOpen()) rs->Close();
}

void ClsDatos::EjecutarSQL(const std::string& sql, long, ado::RecordsetPtr* rs) {
  ado::Connection& c = RequireConnection();
  try {
    auto result = c.Execute(sql, nullptr, rs ? 0 : ado::kExecuteNoRecords);
    if (rs) *rs = std::move(result);
  } catch (const RaisedError&) {
    // Refusals are read from the connection's Errors by the caller.
  }
}

std::string ClsDatos::ValorSQL(const Variant& valor, const std::string& tipo) const {
  if (tipo == "@") {
    if (valor.IsNull() || valor.IsEmpty()) return "Null";
    if (valor.kind() == Variant::Kind::Boolean) return valor.AsInteger() ? "1" : "0";
    std::string t = text::TrimCopy(valor.ToText());
    if (t.empty()) return "Null";
    if (auto n = Variant(t).ToNumber()) return FormatNumber(*n);
    if (auto b = Variant(t).ToBool()) return *b ? "1" : "0";
    throw RaisedError(errnum::kTypeMismatch, "Type mismatch: '" + t + "' is not a number.", "ClsDatos");
  }
  return sqltext::Literal(valor.ToText());
}

Variant ClsDatos::UltimoCodigo(const std::string& tabla, const std::string& columna, const Variant&, const Variant&) {
  auto rs = RequireConnection().OpenRecordset(
      "SELECT " + sqltext::Bracketed(columna) + " FROM " + sqltext::Bracketed(tabla), 0, 1);
  std::string best;
  for (; !rs->EOF_(); rs->MoveNext()) {
    std::string code = text::TrimCopy(rs->Fields(0L).Value().ToText());
    if (AllDigits(code) && (best.empty() || NumericLess(best, code))) best = code;
  }
  return Variant(best.empty() ? std::string("0") : best);
}

bool ClsDatos::BuscarRegistro(const std::string& tabla, const std::string& valor, const std::string& columna,
                              ado::RecordsetPtr& rs, int, const std::string&, bool) {
  ado::Connection& c = RequireConnection();
  const std::string consulta =
      "SELECT * FROM " + sqltext::Bracketed(tabla) + " WHERE " + sqltext::Bracketed(columna) + " = ";
  const std::string tecleado = text::TrimCopy(valor);
  rs = c.OpenRecordset(consulta + ValorSQL(tecleado, "'"), 2, 3);
  if (!rs->EOF_()) return true;
  const std::string guardado = FormatoCodigo(tecleado, kLargoCodigo);
  if (guardado == tecleado) return false;
  rs = c.OpenRecordset(consulta + ValorSQL(guardado, "'"), 2, 3);
  return !rs->EOF_();
}

}  // namespace etapas
