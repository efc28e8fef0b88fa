// The reachability test of a point of sale, with the point's flags in V_TA_TPV, and the
// connection to the vendor's remote statistics database.
#include "common/conexion_remota.h"

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/reparto.h"
#include "components/sql_text.h"
#include "components/text.h"

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

namespace {

// One call of ConexionBaseRemota: a point of sale's connection, or the remote statistics
// database's; the steps share what the attempt connects with.
class ConexionRemota {
 public:
  ConexionRemota(const std::string& Servidor, const std::string& Base, const std::string& Usuario,
                 const std::string& Clave, const std::string& Codigo, const std::string& Puerto)
      : Servidor_(Servidor),
        Base_(Base),
        Usuario_(Usuario),
        Clave_(Clave),
        Codigo_(Codigo),
        // The code is V_TA_TPV's own data: quoted with its quotes doubled, it selects only its row.
        codigo_(sqltext::Doubled(ClsUtil::FormatoCodigo(Codigo))),
        p_([](const RaisedError& e) {
          // Closing what is already closed is no failure here.
          if (e.Number() == errnum::kObjectClosed) return kIgnorar;
          return ReportaError(e, mb::kRetryCancel, "Conexion Base Remota") == kReintentar ? kReintentar : kAbandonar;
        }) {
    p_.AlAbandonar([this] { resultado_ = false; });
    ArmarPuntoDeVenta();
    ArmarEstadistica();
    p_.Paso([this, Puerto] {
      if (text::Trim(ClsUtil::ValorCampo(Variant(Puerto)).ToText()) == "3306") p_.Terminar();
    });
    p_.Paso([this] {
      if (remotos_.Conectado()) remotos_.Desconectar();
    });
    p_.Rama([this] { return Servidor_.empty() ? &estadistica_ : &puntoDeVenta_; });
  }

  bool Ejecutar() {
    p_.Ejecutar();
    return resultado_;
  }

 private:
  // The connection itself, the same in both modes.
  void Conectar(Pasos::Lista& l) {
    l.Paso([this] { remotos_.AsignarDatoSesion(EnCasaValor([this] { return datos_.DatoSesion(); })); });
    l.Paso([this] {
      remotos_.Servidor(ExtraeServidor(text::TrimCopy(servidor_)));
      remotos_.BaseDatos(text::TrimCopy(base_));
      remotos_.Usuario(text::TrimCopy(usuario_));
      remotos_.Clave(text::TrimCopy(clave_));
    });
    l.Paso([this] {
      // A slow server must not leave the window unpainted.
      Platform().DoEvents();
      std::string cadena;
      remotos_.Conectar(false, 3, cadena, true, false);
    });
  }
  void Preparar(Pasos::Lista& l) {
    l.Paso([this] { remotos_.ConexionAbierta().SetDefaultDatabase(remotos_.BaseDatos()); });
    l.Paso([this] { remotos_.ConexionAbierta().SetCommandTimeout(360); });
  }

  // A point's flag in V_TA_TPV. A worker serving many points at once has it written in the
  // points' order without waiting, and a failure is told and can be retried then.
  void Marcar(const std::string& sql) {
    if (!EnTrabajador()) {
      datos_.EjecutarSQL(sql, 0, nullptr);
      return;
    }
    EnTurnoSinEsperar([sql] {
      for (;;) {
        try {
          SesionSistema.Datos->EjecutarSQL(sql, 0, nullptr);
          return;
        } catch (const RaisedError& e) {
          if (ReportaError(e, mb::kRetryCancel, "Conexion Base Remota") != kReintentar) return;
        }
      }
    });
  }

  void ArmarPuntoDeVenta() {
    puntoDeVenta_.Paso([this] {
      servidor_ = Servidor_;
      base_ = Base_;
      usuario_ = Usuario_;
      clave_ = Clave_;
    });
    Conectar(puntoDeVenta_);
    puntoDeVenta_.Rama([this] { return remotos_.Conectado() ? &enLinea_ : &sinConexion_; });

    Preparar(enLinea_);
    enLinea_.Paso([this] {
      if (!Codigo_.empty()) Marcar("UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '" + codigo_ + "'");
    });
    enLinea_.Paso([this] { resultado_ = true; });

    sinConexion_.Paso([this] {
      if (Codigo_.empty()) p_.Terminar();
    });
    sinConexion_.Paso([this] {
      Marcar("UPDATE V_TA_TPV SET CONECTADO = 0, ULTIMA_DETECCION = '" +
             sqltext::Doubled(EnCasaValor([] { return FechaServidor(); }).ToIso()) + "' WHERE CODIGO = '" + codigo_ +
             "'");
    });
    sinConexion_.Paso([this] {
      const std::string pendientes = SentenciaPendientes(Platform().NombreEjecutable());
      if (!pendientes.empty()) Marcar(pendientes + codigo_ + "'");
      p_.Terminar();
    });
    // Only a failure of the last flag ignored gets here: it goes on as it always did.
    sinConexion_.Sublista(estadistica_);
  }

  // Remote statistics: the configured endpoint, then the second one.
  void ArmarEstadistica() {
    intento_.Paso([this] {
      std::string* destino[4] = {&servidor_, &base_, &usuario_, &clave_};
      for (size_t i = 0; i < 4; ++i) {
        const DatoEstadistica& dato = kIntentos[numeroIntento_][i];
        std::string aux;
        *destino[i] = CfgCV(dato.lee, aux);
        if (text::Trim(*destino[i]).empty()) {
          *destino[i] = dato.defecto;
          GrabaCfgCV(dato.graba, Variant(dato.defecto), "", false, "DATOS", true);
        }
      }
    });
    Conectar(intento_);
    intento_.Paso([this] {
      if (remotos_.Conectado()) {
        otroIntento_ = false;
      } else if (numeroIntento_ == 0) {
        numeroIntento_ = 1;
      } else {
        p_.Terminar();
      }
    });
    estadistica_.Mientras([this] { return otroIntento_; }, intento_);
    Preparar(estadistica_);
    estadistica_.Paso([this] { resultado_ = true; });
  }

  ClsDatos& remotos_ = SesionRemotos();
  ClsDatos& datos_ = *SesionSistema.Datos;
  const std::string &Servidor_, &Base_, &Usuario_, &Clave_, &Codigo_;
  const std::string codigo_;
  bool resultado_ = false;
  std::string servidor_, base_, usuario_, clave_;  // what this attempt connects with
  size_t numeroIntento_ = 0;
  bool otroIntento_ = true;
  Pasos::Lista puntoDeVenta_, enLinea_, sinConexion_, estadistica_, intento_;
  Pasos p_;
};

}  // namespace

bool ConexionBaseRemota(const std::string& Servidor, const std::string& Base, const std::string& Usuario,
                        const std::string& Clave, const std::string& Codigo, const std::string& Puerto) {
  return ConexionRemota(Servidor, Base, Usuario, Clave, Codigo, Puerto).Ejecutar();
}

}  // namespace etapas
