#include "replication/recorrido.h"

#include <charconv>

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/pool_conexiones.h"
#include "components/text.h"
#include "replication/mod_grupos_emp.h"

namespace etapas::replicacion {
namespace {

// What the walk needs of a target, tried before its turn: that its copy of the table can
// be read and written. The table is named as the transfer names it.
std::string SentenciaPrueba(const std::string& tabla) {
  const std::string clave = ClavesTabla(tabla)[0];
  std::string sql = "BEGIN TRANSACTION; SELECT TOP 0 * FROM " + tabla + "; ";
  if (!clave.empty()) sql += "UPDATE " + tabla + " SET " + clave + " = " + clave + " WHERE 1 = 0; ";
  return sql + "ROLLBACK TRANSACTION";
}

}  // namespace

std::vector<Destino> LeerPuntosDeVenta(ado::Recordset& rs) {
  std::vector<Destino> puntos;
  for (; !rs.EOF_(); rs.MoveNext()) {
    Destino d;
    d.codigo = ClsUtil::ValorCampo(rs.Fields("Codigo")).ToText();
    // Blanks typed around them are no part of the name: the check and the transfer both go
    // where the trimmed names point.
    d.servidor = text::TrimCopy(ClsUtil::ValorCampo(rs.Fields("Server")).ToText());
    d.base = text::TrimCopy(ClsUtil::ValorCampo(rs.Fields("Dbname")).ToText());
    d.descripcion = ClsUtil::ValorCampo(rs.Fields("Descripcion")).ToText();
    d.habilitado = ValNumero(ClsUtil::ValorCampo(rs.Fields("INTERNET")).ToText()) == 0 &&
                   ValNumero(ClsUtil::ValorCampo(rs.Fields("BAJA")).ToText()) == 0;
    for (const auto& e : kExclusiones) d.excluye[e.familia] = Excluido(rs, e.familia);
    puntos.push_back(std::move(d));
  }
  return puntos;
}

bool Recibe(const Destino& punto, const std::string& tabla) {
  const Familia familia = FamiliaDe(tabla);
  if (familia == Familia::Ninguna) return false;
  const auto it = punto.excluye.find(familia);
  return it == punto.excluye.end() || !it->second;
}

Destino Grupo(std::string& tipos) {
  Destino g;
  g.codigo = kDestinoGrupo;
  std::string aux;
  tipos = Cfg("GRP_Tipos", aux);
  g.servidor = text::TrimCopy(Cfg("GRP_Server", aux));
  g.base = text::TrimCopy(Cfg("GRP_Base", aux));
  g.descripcion = "Base del grupo " + text::TrimCopy(g.base);
  return g;
}

std::string NombrePunto(const Destino& d) {
  const std::string nombre = text::TrimCopy(d.descripcion);
  return nombre.empty() ? "Punto de venta " + text::TrimCopy(d.codigo)
                        : "Punto de venta " + nombre + " (" + text::TrimCopy(d.codigo) + ")";
}

size_t DestinosALaVez() {
  constexpr size_t kPorOmision = 32, kMaximo = 256;
  std::string aux;
  const std::string valor = text::TrimCopy(Cfg("REP_DestinosALaVez", aux));
  size_t n = 0;
  const auto [fin, error] = std::from_chars(valor.data(), valor.data() + valor.size(), n);
  // A value that is not a whole number in range is no setting at all.
  if (valor.empty() || error != std::errc() || fin != valor.data() + valor.size() || n < 1 || n > kMaximo)
    return kPorOmision;
  return n;
}

void ProbarTodos(const std::string& tabla, const std::vector<const Destino*>& destinos) {
  std::vector<DestinoConexion> intentos;
  for (const Destino* d : destinos) {
    if (d->codigo == kDestinoGrupo) {
      intentos.push_back({d->servidor.substr(0, d->servidor.find(':')), d->base, d->base, d->base});
      continue;
    }
    const std::string base = text::TrimCopy(d->base);
    intentos.push_back({ExtraeServidor(text::TrimCopy(d->servidor)), base, base, base});
  }
  if (intentos.empty()) return;
  PoolConexiones::Compartido().Probar(SesionSistema.Datos->RaizDatos(), intentos, kEsperaConexion,
                                      SentenciaPrueba(tabla));
}

}  // namespace etapas::replicacion
