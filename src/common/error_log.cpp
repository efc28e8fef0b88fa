// Error reporting: the operator's dialog, the CVERR.LOG line and the AUX_ERR row.
#include <cstdio>
#include <fstream>

#include "common/mod_global.h"
#include "components/reparto.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/text.h"

namespace etapas {
namespace {

std::string TextoRespuesta(int respuesta) {
  switch (respuesta) {
    case 2: return "Cancelar";
    case 3: return "Abortar";
    case 4: return "Reintentar";
    case 5: return "Ignorar";
    case 6: return "Sí";
    case 7: return "No";
    default: return "";
  }
}

// A null recordset is the platform's "object variable not set".
ado::Recordset& Abierto(const ado::RecordsetPtr& rs) {
  if (!rs) throw ObjectNotSet();
  return *rs;
}

}  // namespace

std::string CarpetaLog() {
  std::string carpeta = Platform().Entorno("TEMP");
  if (text::Trim(carpeta).empty()) carpeta = Platform().Entorno("TMP");
  carpeta = text::TrimCopy(carpeta);
  if (carpeta.empty()) carpeta = ClsEntorno::CarpetaSistema();
  carpeta = ClsUtil::CompletarRuta(carpeta);
  if (carpeta.empty() || carpeta.back() != '/') carpeta += "/";
  return carpeta;
}

int ReportaError(const RaisedError& error, std::optional<int> botones, const std::string& rutina) {
  if (EnTrabajador()) {
    // A worker serving one target asks when every earlier target has had its say.
    int respuesta = 0;
    EnTurno([&] { respuesta = ReportaError(error, botones, rutina); });
    return respuesta;
  }
  // Never fails towards its caller: each failing step is skipped.
  std::ofstream log;
  std::string mensaje, parteRutina, titulo;
  int respuesta = 0;
  Pasos p(SaltarSiempre);
  p.Paso([&] { log.open(CarpetaLog() + "CVERR.LOG", std::ios::app | std::ios::binary); });
  p.Paso([&] {
    // Descriptions may carry a connection string: its password reaches neither box nor log.
    mensaje = "Ha ocurrido el Siguiente Error (" + std::to_string(error.Number()) + ") " +
              text::HideSecrets(text::TrimCopy(error.Description()));
    parteRutina = rutina.empty() ? "" : " - " + rutina;
    titulo = error.Source() + parteRutina + " Aviso al operador!!! - 2 ";
  });
  p.Paso([&] {
    if (error.Number() == 0) p.Terminar();
  });
  p.Paso([&] { respuesta = Platform().MsgBox(mensaje, botones.value_or(18), titulo); });
  p.Paso([&] {
    const DateTime now = DateTime::Now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%04d %02d:%02d:%02d", now.month, now.day, now.year, now.hour,
                  now.minute, now.second);
    const std::string linea = std::string(stamp) + " Rutina: " + text::TrimCopy(parteRutina) + " Mensaje " +
                              text::TrimCopy(mensaje) + " Respondió : " + TextoRespuesta(respuesta) + "\r\n";
    log << text::Utf8ToCp1252(linea);
  });
  p.Ejecutar();
  return respuesta;
}

void GrabaErrorAux(const std::string& sql, std::string& proceso, long numero, const std::string& descripcion) {
  if (EnTrabajador()) {
    EnTurnoSinEsperar(
        [sql, proceso, numero, descripcion]() mutable { GrabaErrorAux(sql, proceso, numero, descripcion); });
    return;
  }
  ClsDatos& datos = *SesionSistema.Datos;
  ado::RecordsetPtr rs;
  bool completa = false;  // a row only partly filled is not stored
  Pasos p(SaltarSiempre);
  p.Paso([&] {
    if (proceso.empty()) proceso = Platform().NombreEjecutable();
  });
  p.Paso([&] { datos.AbrirRecordset("select  top 1 * from AUX_ERR  with(nolock) ", rs, nullptr, 2, 3, -1, true); });
  p.Paso([&] {
    auto& r = Abierto(rs);
    r.AddNew();
    r.Fields("Proceso") = Variant(proceso);
    r.Fields("fecha") = Variant(Formatear(DateTime::Now(), FormatoFechaHora()));
    r.Fields("Error") = Variant(numero);
    r.Fields("Descripcion") = Variant(ClsUtil::RecortarTexto(text::HideSecrets(descripcion), 250));
    r.Fields("SQL") = Variant(text::HideSecrets(sql));
    r.Fields("pc") = Variant(ClsEntorno::NombreMaquina());
    r.Fields("Usuario") = Variant(datos.Usuario());
    completa = true;
  });
  p.Paso([&] {
    if (completa) Abierto(rs).Update();
  });
  p.Paso([&] {
    if (rs && rs->EditPending()) rs->CancelUpdate();
    datos.CerrarRecordset(rs);
  });
  p.Ejecutar();
}

}  // namespace etapas
