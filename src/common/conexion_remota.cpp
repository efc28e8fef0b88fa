// The reachability test of a point of sale, with the point's flags in V_TA_TPV, and the
// connection to the vendor's remote statistics database.
#include "common/conexion_remota.h"

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/text.h"
#include "components/sql_text.h"

namespace etapas {
namespace {

constexpr const char* kPendClientes = "UPDATE V_TA_TPV SET PEND_CLIENTES= 1, PEND_PROVEEDORES = 1 WHERE CODIGO = '";
constexpr const char* kPendTablas = "UPDATE V_TA_TPV SET PEND_TABLAS = 1 WHERE CODIGO = '";
constexpr const char* kPendArticulos = "UPDATE V_TA_TPV SET PEND_ARTICULOS = 1,PEND_PRECIOS = 1 WHERE CODIGO = '";

// The suite's editors whose changes an unreachable point of sale must catch up with later.
struct ProgramaPendiente {
  const char* ejecutable;
  const char* sentencia;
};
constexpr ProgramaPendiente kProgramasPendientes[] = {
    {"CLIENTES", kPendClientes},            // customers (and suppliers) editor
    {"TABLASGENERALES", kPendTablas},       // general tables editor
    {"VENDEDORES", kPendTablas},            // sellers editor
    {"ARTICULOS", kPendArticulos},          // articles editor
    {"ARTICULOSRAPIDO", kPendArticulos},    // quick articles editor
    {"PLANILLAARTICULOS", kPendArticulos},  // articles spreadsheet data editor
    {"PLANILLAPRECIOS", kPendArticulos},    // prices spreadsheet data editor
};

// The connection data of one attempt in statistics mode: the key read, the key a default
// is stored under, and the default.
struct DatoEstadistica {
  const char* lee;
  const char* graba;
  const char* defecto;
};
using IntentoEstadistica = DatoEstadistica[4];  // server, database, user, password
constexpr IntentoEstadistica kIntentos[2] = {
    {{"grServer", "grserver", kServidorEstadisticasRemoto1},
     {"grdbname", "grdbname", kDatoEstadisticasRemoto},
     {"gruser", "gruser", kDatoEstadisticasRemoto},
     {"grpass", "grpass", kDatoEstadisticasRemoto}},
    {{"grServer1", "grServer1", kServidorEstadisticasRemoto2},
     {"grdbname1", "grdbname1", kDatoEstadisticasRemoto},
     {"gruser1", "gruser1", kDatoEstadisticasRemoto},
     {"grpass1", "grpass1", kDatoEstadisticasRemoto}},
};

}  // namespace

std::string SentenciaPendientes(const std::string& ejecutable) {
  for (const auto& p : kProgramasPendientes)
    if (text::EqualsNoCase(ejecutable, p.ejecutable)) return p.sentencia;
  return "";
}

bool ConexionBaseRemota(const std::string& Servidor, const std::string& Base, const std::string& Usuario,
                        const std::string& Clave, const std::string& Codigo, const std::string& Puerto) {
  ClsDatos& remotos = *SesionSistema.DatosRemotos;
  ClsDatos& datos = *SesionSistema.Datos;
  bool resultado = false;
  std::string servidor, base, usuario, clave;  // what this attempt connects with
  size_t intento = 0;
  size_t noConectado = 0, estadistica = 0;  // where the two modes' forks lead
  // The code is V_TA_TPV's own data: quoted with its quotes doubled, it selects only its row.
  const std::string codigo = sqltext::Doubled(ClsUtil::FormatoCodigo(Codigo));

  Pasos p([](const RaisedError& e) {
    // Closing what is already closed is no failure here.
    if (e.Number() == errnum::kObjectClosed) return kIgnorar;
    return ReportaError(e, mb::kRetryCancel, "Conexion Base Remota") == kReintentar ? kReintentar : kAbandonar;
  });
  p.AlAbandonar([&] { resultado = false; });

  // The connection itself, the same in both modes.
  auto conectar = [&] {
    p.Paso([&] { remotos.AsignarDatoSesion(datos.DatoSesion()); });
    p.Paso([&] {
      remotos.Servidor(ExtraeServidor(text::TrimCopy(servidor)));
      remotos.BaseDatos(text::TrimCopy(base));
      remotos.Usuario(text::TrimCopy(usuario));
      remotos.Clave(text::TrimCopy(clave));
    });
    p.Paso([&] {
      // A slow server must not leave the window unpainted.
      Platform().DoEvents();
      std::string cadena;
      remotos.Conectar(false, 3, cadena, true, false);
    });
  };
  auto prepararConexion = [&] {
    p.Paso([&] { remotos.ConexionAbierta().SetDefaultDatabase(remotos.BaseDatos()); });
    p.Paso([&] { remotos.ConexionAbierta().SetCommandTimeout(360); });
  };

  p.Paso([&] {
    if (text::Trim(ClsUtil::ValorCampo(Variant(Puerto)).ToText()) == "3306") p.Terminar();
  });
  p.Paso([&] {
    if (remotos.Conectado()) remotos.Desconectar();
  });
  p.Paso([&] {
    if (Servidor.empty()) p.IrA(estadistica);
  });
  p.Paso([&] {
    servidor = Servidor;
    base = Base;
    usuario = Usuario;
    clave = Clave;
  });
  conectar();
  p.Paso([&] {
    if (!remotos.Conectado()) p.IrA(noConectado);
  });
  prepararConexion();
  p.Paso([&] {
    if (!Codigo.empty())
      datos.EjecutarSQL("UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '" + codigo + "'", 0, nullptr);
  });
  p.Paso([&] {
    resultado = true;
    p.Terminar();
  });

  noConectado = p.Paso([&] {
    if (Codigo.empty()) p.Terminar();
  });
  p.Paso([&] {
    datos.EjecutarSQL("UPDATE V_TA_TPV SET CONECTADO = 0, ULTIMA_DETECCION = '" +
                          sqltext::Doubled(FechaServidor().ToIso()) +
                          "' WHERE CODIGO = '" + codigo + "'",
                      0, nullptr);
  });
  p.Paso([&] {
    const std::string pendientes = SentenciaPendientes(Platform().NombreEjecutable());
    if (!pendientes.empty()) datos.EjecutarSQL(pendientes + codigo + "'", 0, nullptr);
    p.Terminar();
  });

  // Remote statistics: the configured endpoint, then the second one.
  estadistica = p.Paso([&] {
    std::string* destino[4] = {&servidor, &base, &usuario, &clave};
    for (size_t i = 0; i < 4; ++i) {
      const DatoEstadistica& dato = kIntentos[intento][i];
      std::string aux;
      *destino[i] = CfgCV(dato.lee, aux);
      if (text::Trim(*destino[i]).empty()) {
        *destino[i] = dato.defecto;
        GrabaCfgCV(dato.graba, Variant(dato.defecto), "", false, "DATOS", true);
      }
    }
  });
  conectar();
  p.Paso([&] {
    if (remotos.Conectado()) return;
    if (intento == 0) {
      intento = 1;
      p.IrA(estadistica);
    } else {
      p.Terminar();
    }
  });
  prepararConexion();
  p.Paso([&] { resultado = true; });

  p.Ejecutar();
  return resultado;
}

}  // namespace etapas
