// The configuration store: key/value rows of the main and the statistics databases, and
// the settings record loaded at start-up.
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/reparto.h"
#include "components/text.h"
#include "components/sql_text.h"

namespace etapas {

TSesionSistema SesionSistema;
TConfigSistema ConfigSistema;
std::string TablaConfiguracion;
TListaCampos ListaCampos;
TListaSentencias ListaSentencias;

ClsDatos& SesionDestino() {
  if (!EnTrabajador()) return *SesionSistema.DatosDestino;
  thread_local ClsDatos propia;
  return propia;
}

ClsDatos& SesionRemotos() {
  if (!EnTrabajador()) return *SesionSistema.DatosRemotos;
  thread_local ClsDatos propia;
  return propia;
}

void ReiniciarEstadoGlobal() {
  SesionSistema = TSesionSistema{};
  ConfigSistema = TConfigSistema{};
  TablaConfiguracion.clear();
  ListaCampos.clear();
  ListaSentencias.clear();
}

namespace {

// Cfg and CfgCV: one key of the session's configuration table. Ignore goes on with the
// next step; any other answer closes the recordset and gives an empty text.
std::string LeerClave(ClsDatos& sesion, const std::string& clave, std::string& valorAux, const std::string& rutina) {
  std::string resultado, sql;
  ado::RecordsetPtr rs;
  Pasos p(
      [&](const RaisedError& e) { return ReportaError(e, std::nullopt, rutina) == kIgnorar ? kIgnorar : kAbandonar; });
  p.AlAbandonar([&] {
    if (rs && rs->IsOpen()) rs->Close();
    resultado.clear();
  });
  p.Paso([&] {
    if (text::Trim(TablaConfiguracion).empty()) TablaConfiguracion = "TA_CONFIGURACION";
  });
  p.Paso([&] {
    const std::string key = text::TrimCopy(clave);
    // Keys come from the program, but a quote in one must still not end the literal.
    sql = "SELECT VALOR, valoraux FROM " + TablaConfiguracion + " with(nolock)  WHERE CLAVE = '" +
          sqltext::Doubled(key) + "'";
    if (text::EqualsNoCase(key, "[FECHA HASTA]") || text::EqualsNoCase(key, "[FECHA DESDE]")) sql = text::Upper(sql);
  });
  p.Paso([&] { sesion.AbrirRecordset(sql, rs, nullptr, 0, 1, -1, true); });
  p.Paso([&] {
    if (!rs) throw ObjectNotSet();
    if (rs->EOF_()) {
      resultado = " ";
      valorAux.clear();
    } else {
      resultado = ClsUtil::ValorCampo(rs->Fields("Valor")).ToText();
      valorAux = ClsUtil::ValorCampo(rs->Fields("ValorAux")).ToText();
    }
  });
  p.Paso([&] {
    if (rs) sesion.CerrarRecordset(rs);
    rs.reset();
  });
  p.Paso([&] {
    if (text::EqualsNoCase(clave, "THEME") && text::Trim(resultado).empty()) resultado = "1";
  });
  p.Ejecutar();
  return resultado;
}

}  // namespace

std::string Cfg(const std::string& clave, std::string& valorAux) {
  if (!SesionSistema.Datos->Conectado()) return "";
  return LeerClave(*SesionSistema.Datos, clave, valorAux, "Cfg");
}

std::string CfgCV(const std::string& clave, std::string& valorAux) {
  return LeerClave(*SesionSistema.DatosEstadistica, clave, valorAux, "CfgCV");
}

void GrabaCfgCV(const std::string& clave, const Variant& valor, const std::string& valorAux, bool politicaNegocio,
                const std::string& grupo, bool recortaValor) {
  ClsDatos& est = *SesionSistema.DatosEstadistica;
  ado::RecordsetPtr rs;
  auto abierto = [&]() -> ado::Recordset& {
    if (!rs) throw ObjectNotSet();
    return *rs;
  };
  Pasos p(SaltarSiempre);
  std::string sql;
  p.Paso([&] {
    sql = "SELECT * FROM " + TablaConfiguracion + " with(nolock)  WHERE CLAVE = '" + sqltext::Doubled(clave) + "'";
  });
  p.Paso([&] { est.AbrirRecordset(sql, rs, est.Conexion(), 2, 3, -1, true); });
  p.Paso([&] {
    if (abierto().EOF_())
      abierto().AddNew();
    else
      abierto().MoveFirst();
  });
  p.Paso([&] {
    auto& r = abierto();
    r.Fields("Grupo") = ClsUtil::ValorCampo(Variant(grupo));
    r.Fields("Clave") = ClsUtil::ValorCampo(Variant(text::Upper(text::Trim(clave))));
    Variant v = ClsUtil::ValorCampo(valor);
    r.Fields("Valor") = recortaValor ? Variant(text::TrimCopy(v.ToText())) : v;
    r.Fields("PoliticaNegocio") = ClsUtil::ValorCampo(Variant(politicaNegocio));
  });
  p.Paso([&] {
    if (!valorAux.empty()) abierto().Fields("ValorAux") = ClsUtil::ValorCampo(Variant(text::TrimCopy(valorAux)));
  });
  p.Paso([&] { abierto().Update(); });
  p.Paso([&] {
    if (rs && rs->EditPending()) rs->CancelUpdate();
    if (rs) est.CerrarRecordset(rs);
  });
  p.Ejecutar();
}

bool EsProgramaDeVentas(const std::string& ejecutable) {
  // The suite's sales and work-order programs; this editor is not one of them.
  static const char* const kProgramas[] = {"VENTAS",       "FACTURACION", "PEDIDOS",      "REMITOS",     "PRESUPUESTOS",
                                           "ORDENTRABAJO", "PUNTOVENTA",  "NOTASCREDITO", "DEVOLUCIONES"};
  for (const char* p : kProgramas)
    if (text::EqualsNoCase(ejecutable, p)) return true;
  return false;
}

void CargaConfiguracion(const std::string& carpetaPrograma) {
  TConfigSistema& c = ConfigSistema;
  std::string aux;
  auto leer = [&](const char* clave) { return Cfg(clave, aux); };
  auto si = [](const std::string& v) { return text::EqualsNoCase(v, "SI"); };
  auto siRecortado = [](const std::string& v) { return text::EqualsNoCase(text::Trim(v), "SI"); };
  auto noEsNo = [](const std::string& v) { return !text::EqualsNoCase(text::Trim(v), "NO"); };
  auto texto = [](const std::string& v) { return text::TrimCopy(v); };
  auto importe = [](const std::string& v) {
    return static_cast<int64_t>(std::nearbyint(ClsUtil::ANumero(text::TrimCopy(v)) * 10000.0));
  };
  // Read twice: blank is false; otherwise false only for "NO".
  auto noBorra = [&](const char* clave) {
    if (text::Trim(leer(clave)).empty()) return false;
    return !text::EqualsNoCase(leer(clave), "NO");
  };

  Pasos p(SaltarSiempre);
  p.Paso([] { std::srand(static_cast<unsigned>(std::time(nullptr))); });
  p.Paso([] { TablaConfiguracion = "ta_configuracion"; });
  p.Paso(
      [&] { c.MostrarStockenConsultas = si(ClsUtil::ValorCampo(Variant(leer("MostrarStockenConsultas"))).ToText()); });
  p.Paso([&] { c.TituloClientes = texto(leer("TituloClientes")); });
  p.Paso([&] { c.TituloProveedores = texto(leer("TituloProveedores")); });
  p.Paso([&] { c.ArchivoDocTareas = carpetaPrograma + "CVDOCTareas.cvl"; });
  p.Paso([&] { c.EXIGECLAVECONSULTALIKEARTICULOS = si(leer("EXIGECLAVECONSULTALIKEARTICULOS")); });
  p.Paso([&] { c.UsaConsultaLike = si(leer("UsaConsultaLike")); });
  p.Paso([&] { c.CantidadDecimales = leer("CantidadDecimales"); });
  p.Paso([&] { c.SS_CONFIDENCIALIDAD = si(leer("SS_CONFIDENCIALIDAD")); });
  p.Paso([&] {
    if (!EsProgramaDeVentas(Platform().NombreEjecutable())) return;
    if (ValNumero(leer("CantidadDecimalesVentas")) > 0) c.CantidadDecimales = leer("CantidadDecimalesVentas");
  });
  p.Paso([&] { c.UsaMultilesMonedas = si(leer("UsaMultilesMonedas")); });
  p.Paso([&] { c.UsaFacturaProforma = si(leer("UsaFacturaProforma")); });
  p.Paso([&] { c.USACCOSTO = si(leer("USACCOSTO")); });
  p.Paso([&] { c.USA_STK_STOCK_UDKG = si(leer("USA_STK_STOCK_UDKG")); });

  // The logged-in user's row.
  ado::RecordsetPtr usuario;
  p.Paso([&] {
    SesionSistema.Datos->AbrirRecordset("Select * from ta_usuarios  with(nolock)  where Nombre = '" +
                                            sqltext::Doubled(SesionSistema.UsuarioLogeado) + "'",
                                        usuario, nullptr, 0, 1, -1, true);
  });
  p.Paso([&] {
    if (!usuario || usuario->EOF_()) return;
    c.UNegocio = ClsUtil::ValorCampo(usuario->Fields("UNegocio")).ToText();
    if (c.UsaFacturaProforma) c.UsaFacturaProforma = usuario->Fields("verproforma").Value().ToBool().value_or(false);
  });
  p.Paso([&] {
    if (c.UNegocio.empty()) c.UNegocio = "   1";
  });

  p.Paso([&] { c.UNIDADDEMEDIDA_M3 = texto(leer("UNIDADDEMEDIDA_M3")); });
  p.Paso([&] { c.UNIDADDEMEDIDA_BL = texto(leer("UNIDADDEMEDIDA_BL")); });
  p.Paso([&] { c.UNIDADDEMEDIDA_KG = texto(leer("UNIDADDEMEDIDA_KG")); });
  p.Paso([&] { c.PERIODO = CInt(ValNumero(leer("PERIODO"))); });
  p.Paso([&] { c.RazonSocialPorUneg = siRecortado(leer("RazonSocialPorUneg")); });
  p.Paso([&] {
    c.VALIDACODIGOBARRA = !text::Trim(leer("VALIDACODIGOBARRA")).empty() && siRecortado(leer("VALIDACODIGOBARRA"));
  });
  p.Paso([&] {
    c.CFondo = CLng(ClsUtil::ANumero(leer("CFondo")));
    if (c.CFondo == 0) c.CFondo = 16776960;
  });
  p.Paso([&] { c.CLetra = CLng(ClsUtil::ANumero(leer("CLetra"))); });
  p.Paso([&] { c.ModuloOrdenDeTrabajo = noEsNo(leer("ModuloOrdenDeTrabajo")); });
  p.Paso([&] { c.V_ModificaCPrecio = noBorra("V_ModificaCPrecio"); });
  p.Paso([&] { c.C_ModificaCPrecio = noBorra("C_ModificaCPrecio"); });
  p.Paso([&] { c.MADERERA = noBorra("MADERERA"); });
  p.Paso([&] { c.MAD_TIRAS = texto(leer("MAD_TIRAS")); });
  p.Paso([&] { c.MAD_P2 = texto(leer("MAD_P2")); });
  p.Paso([&] { c.MAD_ML = texto(leer("MAD_ML")); });
  p.Paso([&] { c.MAD_M2 = texto(leer("MAD_M2")); });
  p.Paso([&] { c.MAD_HOJAS = texto(leer("MAD_HOJAS")); });
  p.Paso([&] { c.MAD_ML_P2 = texto(leer("MAD_ML_P2")); });
  p.Paso([&] { c.MAD_M2_P2 = texto(leer("MAD_M2_P2")); });
  p.Paso([&] { c.MAD_ML_M2 = texto(leer("MAD_ML_M2")); });
  p.Paso([&] { c.CuentaCtroDist = texto(leer("CuentaCtroDist")); });
  p.Paso([&] { c.MaxDto = importe(leer("MaxDto")); });
  p.Paso([&] { c.MaxDtoProforma = importe(leer("MaxDtoProforma")); });
  p.Paso([&] { c.PideClave_StockNeg = noBorra("PideClave_StockNeg"); });
  p.Paso([&] { c.PideClave_MarkUpBase = noBorra("PideClave_MarkUpBase"); });
  p.Paso([&] { c.PideClave_LimiteCredito = noBorra("PideClave_LimiteCredito"); });
  p.Paso([&] { c.SS_BloqueoActivo = si(leer("SS_BloqueoActivo")); });
  p.Paso([&] { c.UTILIZARFECHADIA = si(leer("UTILIZARFECHADIA")); });
  p.Paso([&] { c.AsignacionAutomaticaDeLoteING = si(leer("AsignacionAutomaticaDeLoteING")); });
  p.Paso([&] { c.AsignacionAutomaticaDeLoteINGOP = si(leer("AsignacionAutomaticaDeLoteINGOP")); });
  p.Paso([&] { c.CONDIVAEMPRESA = CInt(ValNumero(leer("CONDIVAEMPRESA"))); });
  p.Paso([&] {
    if (c.CONDIVAEMPRESA == 0) c.CONDIVAEMPRESA = CInt(ValNumero(leer("CONDIVA")));
    if (c.CONDIVAEMPRESA == 0) c.CONDIVAEMPRESA = 1;
  });
  p.Paso([&] {
    c.Top_Default = leer("Top_Default");
    if (text::Trim(c.Top_Default).empty()) c.Top_Default = "1000";
  });
  p.Paso([&] { usuario.reset(); });
  p.Ejecutar();
}

}  // namespace etapas
