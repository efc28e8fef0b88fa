#pragma once
// The connections of one replication walk: every point of sale is connected at once and
// proven before the walk, so that a store that hangs costs one time-out for all of them and
// each reachable store costs one connection for the whole save.
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "components/ado.h"

namespace etapas {

// A database to reach: a ClsDatos with these four properties takes what the pool keeps.
struct DestinoConexion {
  std::string servidor, baseDatos, usuario, clave;
};

// What Probar found of one target.
struct PruebaConexion {
  bool conectado = false;
  std::string motivo;  // why not (the provider's words), when not
};

class PoolConexiones {
 public:
  // The instance ClsDatos::Conectar looks in.
  static PoolConexiones& Compartido();

  // Empties the pool, then connects every target at once (engine::ConnectAll, each
  // attempt bounded by timeoutSeconds) and runs the T-SQL batch sqlPrueba on each connection
  // opened (with timeoutSeconds as its CommandTimeout): it should prove the target can be
  // read and written, and end the transaction it opens. A connection whose probe fails is
  // closed and kept as a failure with the provider's description as the reason. The pool is
  // active afterwards. One result per target, in order; targets with the same key share.
  std::vector<PruebaConexion> Probar(const std::string& dataRoot, const std::vector<DestinoConexion>& destinos,
                                     int timeoutSeconds, const std::string& sqlPrueba);
  // Closes every connection kept and not lent, forgets the lent ones (their sessions close
  // them when they let them go) and the failures, and deactivates the pool.
  void Vaciar();
  bool Activo() const {
    std::lock_guard lock(m_);
    return activo_;
  }

  // What the pool holds under a key (server, database and user ignoring case and
  // surrounding blanks; the password as written).
  enum class Estado { Ausente, Disponible, Prestada, Fallida };
  Estado EstadoDe(const std::string& servidor, const std::string& baseDatos, const std::string& usuario,
                  const std::string& clave) const;
  size_t Abiertas() const;  // connections kept, lent or not

 private:
  friend class ClsDatos;
  using Clave = std::tuple<std::string, std::string, std::string, std::string>;
  struct Entrada {
    ado::ConnectionPtr conexion;  // null: a failure
    bool prestada = false;
    std::string motivo;
    std::string baseDatos;  // the database it was opened on
  };
  static Clave ClaveDe(const std::string& servidor, const std::string& baseDatos, const std::string& usuario,
                       const std::string& clave);

  enum class Toma { NoEsta, Conexion, Fallo };
  // For ClsDatos::Conectar: the connection kept under the key, lent exclusively; or the
  // failure recorded; or NoEsta (also while the key's connection is lent to another
  // session, or was closed by its holder): the session connects by itself.
  Toma Tomar(const std::string& servidor, const std::string& baseDatos, const std::string& usuario,
             const std::string& clave, ado::ConnectionPtr& conexion, std::string& motivo);
  // For ClsDatos::Desconectar: takes back a connection it lent, as a new one is (no
  // transaction, its database, CommandTimeout 30, no errors). False when it is not the
  // pool's (any more): the caller closes it.
  bool Devolver(const ado::ConnectionPtr& conexion);
  // Makes a connection ready for the next session; false when it cannot be.
  static bool Preparar(ado::Connection& conexion, const std::string& baseDatos);

  // The sessions of a walk's workers take and give back connections at once.
  mutable std::mutex m_;
  std::map<Clave, Entrada> entradas_;
  bool activo_ = false;
};

}  // namespace etapas
