#pragma once
// One database session of the suite's component library: the server, database and login
// it uses, its connection, and the few statements every program needs.
#include <string>

#include "components/ado.h"

namespace etapas {

class ClsDatos {
 public:
  ClsDatos() = default;
  ~ClsDatos() { Desconectar(); }
  ClsDatos(const ClsDatos&) = delete;
  ClsDatos& operator=(const ClsDatos&) = delete;

  const std::string& Servidor() const { return servidor_; }
  void Servidor(std::string v) { servidor_ = std::move(v); }
  const std::string& BaseDatos() const { return baseDatos_; }
  void BaseDatos(std::string v) { baseDatos_ = std::move(v); }
  const std::string& Usuario() const { return usuario_; }
  void Usuario(std::string v) { usuario_ = std::move(v); }
  const std::string& Clave() const { return clave_; }
  void Clave(std::string v) { clave_ = std::move(v); }

  // Opens the connection from the four properties (or refuses an Oracle connection text:
  // this build has no Oracle engine). faltanDatos: the caller found the server or the
  // user empty; the attempt is refused with that reason. informarFallo: a refusal is told
  // to the operator in a message box and on standard error. Never raises.
  // While the shared connection pool (pool_conexiones.h) is active and holds the four
  // properties' key, the session takes the pool's connection (no new attempt), or fails at
  // once with the reason the pool recorded. A connection held from before is let go first.
  void Conectar(bool faltanDatos, long modo, std::string& cadenaConexion, bool usarPropiedades, bool informarFallo);
  // Lets the connection go: back to the pool when it came from it and the pool is still
  // active (the next session of the same key gets it), otherwise closed. Conexion() is then
  // a closed connection and Conectado() false.
  void Desconectar();
  bool Conectado() const;
  void Conectado(bool value);  // false: the caller closed the connection
  // The connection; null before the first successful Conectar.
  ado::ConnectionPtr Conexion() const { return conexion_; }
  // The open connection; raises 3709 when there is none, so a routine reports it
  // through its failure handler instead of reaching a null connection.
  ado::Connection& ConexionAbierta() const { return RequireConnection(); }
  // The engine's name ("sqlite", "postgresql"); empty when not connected.
  std::string Proveedor() const;
  // Why the last Conectar did not connect (empty after a success).
  const std::string& MotivoFallo() const { return motivoFallo_; }
  // The whole explanation Conectar gives the operator of its last failure.
  std::string TextoFallo() const;

  // What a new session needs to connect like this one (the data root of the server
  // directory), copied from the main session into the others.
  std::string DatoSesion() const;
  void AsignarDatoSesion(const std::string& dato);
  // The data root this session finds its servers in.
  std::string RaizDatos() const;

  // Opens rs on a query; raises the provider's error when it cannot be opened.
  // cursor/lock 0/1: forward read-only; 2/3: updatable.
  void AbrirRecordset(const std::string& sql, ado::RecordsetPtr& rs, const ado::ConnectionPtr& conexion = nullptr,
                      int cursor = 0, int lock = 1, int opciones = -1, bool cliente = true);
  void CerrarRecordset(ado::RecordsetPtr& rs);
  // Runs a statement or batch; refusals go to Conexion()->Errors(), never raised.
  // Raises 3709 only when there is no open connection.
  void EjecutarSQL(const std::string& sql, long opciones = 0, ado::RecordsetPtr* rs = nullptr);
  // SQL literal of a value: kind "'" quotes it (quotes doubled); kind "@" a numeric or
  // Boolean literal (True 1, False 0, empty Null), raising 13 for anything else.
  std::string ValorSQL(const Variant& valor, const std::string& tipo) const;
  // The highest numeric code of the column (as stored); "0" when there is none.
  Variant UltimoCodigo(const std::string& tabla, const std::string& columna, const Variant& = {}, const Variant& = {});
  // True exactly when the row exists. rs comes back updatable, on the row when found,
  // accepting AddNew when not. The value is looked up as given (trimmed) and, when that
  // finds nothing, in its stored form (FormatoCodigo with kLargoCodigo): rows written by
  // other programs keep their codes unpadded. The key column's width plays no part.
  bool BuscarRegistro(const std::string& tabla, const std::string& valor, const std::string& columna,
                      ado::RecordsetPtr& rs, int = 8, const std::string& = "", bool = false);

 private:
  ado::Connection& RequireConnection() const;

  std::string servidor_, baseDatos_, usuario_, clave_;
  std::string dataRoot_;  // empty: engine::DefaultDataRoot()
  std::string motivoFallo_;
  bool conectado_ = false;
  bool dePool_ = false;  // conexion_ is lent by the pool
  ado::ConnectionPtr conexion_;
};

// Width of the stored form of a code, whatever the width of the code column.
inline constexpr int kLargoCodigo = 4;

// The stored form of a code: trimmed; with a length, an all-digit code is left-padded
// with zeros to that length ("13" -> "0013"); anything else is kept as typed.
std::string FormatoCodigo(const std::string& codigo, int largo = 0);

}  // namespace etapas
