// The command bar's commands, saving and deleting, and the field lookup.
#include "common/mod_global.h"
#include "components/cls_consulta.h"
#include "components/cls_planilla.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/text.h"
#include "components/sql_text.h"
#include "editor/frm_v_ta_etapas.h"
#include "replication/mod_grupos_emp.h"

namespace etapas {
namespace {


}  // namespace

bool FrmV_TA_ETAPAS::Ocupado() const { return ReplicacionEnCurso(); }

void FrmV_TA_ETAPAS::Botonera1_Click(const std::string& clave) {
  // While a save is being carried to the points of sale the window lets events through;
  // no command may start then (a second GRABAR would start a second save).
  if (Ocupado()) return;
  static const char* const kComandos[] = {"NUEVO", "BORRAR", "GRABAR", "PLANILLA", "CONSULTAR", "REPORTE", "CERRAR", "CANCELAR"};
  const std::string tecla = text::Upper(clave);
  std::string comando;
  for (const char* c : kComandos)
    if (text::EqualsNoCase(tecla, c)) {
      comando = c;
      break;
    }
  if (comando.empty()) return;

  std::string proveedor;  // the steps run after the branches below: their state lives here
  Pasos p([](const RaisedError& e) { return ClsUtil::DialogoError(e, Variant(), "Botonera1_Click"); });
  auto caretAlFinal = [this] { Txtfields[0].SelStart = static_cast<int>(text::Length(text::Trim(Txtfields[0].Text))); };
  if (comando == "NUEVO") {
    p.Paso([&] { LimpiarPantalla(); });
    p.Paso([&] { bNuevo = true; });
    p.Paso([&] { bBorrar = false; });
    p.Paso([&] { bModifica = false; });
    p.Paso([&] {
      const Variant ultimo = SesionSistema.Datos->UltimoCodigo(sTabla, "CODIGOESTADO");
      const std::string siguiente = FormatNumber(ClsUtil::ANumero(ultimo.ToText()) + 1);
      const int largo = Txtfields[0].MaxLength;
      if (largo > 0 && text::Length(siguiente) > static_cast<size_t>(largo)) {
        Platform().MsgBox("No quedan códigos numéricos libres: el siguiente (" + siguiente + ") no cabe en los " +
                              std::to_string(largo) + " caracteres del código. Escriba un código no numérico.",
                          mb::kExclamation | mb::kOk, "Aviso al operador");
        return;
      }
      Txtfields[0].Text = siguiente;
    });
    p.Paso(caretAlFinal);
    p.Paso([&] { SetFocus(0); });
  } else if (comando == "BORRAR") {
    p.Paso([&] { bNuevo = false; });
    p.Paso([&] { bBorrar = true; });
    p.Paso([&] { bModifica = false; });
    p.Paso([&] { GrabarRegistro(); });
    p.Paso([&] { SetFocus(0); });
    p.Paso(caretAlFinal);
    p.Paso([&] { SetFocus(0); });
  } else if (comando == "GRABAR") {
    p.Paso([&] { bGrabando = true; });
    p.Paso([&] {
      if (ValidarCampos()) {
        bEditando = false;
        GrabarRegistro();
      }
    });
    p.Paso([&] { bGrabando = false; });
  } else if (comando == "PLANILLA") {
    p.Paso([&] { proveedor = SesionSistema.Datos->Proveedor(); });
    p.Paso([&] { ClsPlanilla::MostrarPlanilla("SELECT * FROM " + sTabla, proveedor, sTabla, ""); });
  } else if (comando == "CONSULTAR") {
    p.Paso([&] { ConsultarCampo(); });
  } else if (comando == "CERRAR") {
    p.Paso([&] {
      int16_t cancel = 0;
      Form_Unload(cancel);
    });
  } else if (comando == "CANCELAR") {
    p.Paso([&] {
      if (bEditando && Platform().MsgBox("Cancelar?", mb::kYesNo | mb::kExclamation | mb::kDefault2, "Atención!!!") != mb::kAnsYes)
        p.Terminar();
    });
    p.Paso([&] { bEditando = false; });
    p.Paso([&] { LimpiarPantalla(); });
    p.Paso([&] { Generar(sTabla); });
    p.Paso(caretAlFinal);
    p.Paso([&] { SetFocus(0); });
  }
  // REPORTE does nothing.
  p.Ejecutar();
}

bool FrmV_TA_ETAPAS::ValidarCampos() {
  bError = false;
  for (size_t i = 0; i < Txtfields.size(); ++i) {
    Campo_Valida(static_cast<int16_t>(i));
    if (bError) break;
  }
  return !bError;
}

void FrmV_TA_ETAPAS::GrabarRegistro() {
  std::string codigo, guardado;
  bool actualizando = false;  // from just before the commit until it succeeded
  bool commitFallido = false;  // the last commit failed and its pending row was dropped
  size_t pasoNuevo = 0, pasoExistente = 0, pasoBaja = 0, pasoCampos = 0;
  Pasos p([&](const RaisedError& e) {
    bError = true;
    ClsUtil::IndicarEspera(false);
    const bool enCommit = actualizando;
    if (actualizando && rsDatos && rsDatos->IsOpen() && rsDatos->EditPending()) rsDatos->CancelUpdate();
    actualizando = false;
    bError = true;
    if (enCommit) {
      commitFallido = true;
      // What the operator typed is still on screen: CANCELAR asks before dropping it.
      bEditando = true;
      if (bNuevo && e.Number() == ado::native::kDuplicateKey) {
        Platform().MsgBox("Otro usuario creó el status " + guardado + " en la base " + SesionSistema.Datos->BaseDatos() +
                              " mientras usted lo cargaba; su status no se grabó. Sus datos siguen en pantalla: "
                              "confirme el código para ver el del otro usuario, o escriba otro código.",
                          mb::kExclamation | mb::kOk, "Aviso al operador");
        return kAbandonar;
      }
    }
    return ClsUtil::DialogoError(e, Variant(), "");
  });
  auto rs = [&]() -> ado::Recordset& {
    if (!rsDatos) throw ObjectNotSet();
    return *rsDatos;
  };
  auto releer = [&] {
    SesionSistema.Datos->AbrirRecordset("select * from V_TA_ETAPAS where CODIGOESTADO = '" + sqltext::Doubled(guardado) + "'",
                                        rsDatos, nullptr, 2, 3, -1, true);
  };
  std::string previos;
  auto ponerCodigo = [&] {
    if (bNuevo) rs().Fields("CODIGOESTADO") = Variant(guardado);
  };
  auto ponerDescripcion = [&] { rs().Fields("Descripcion") = Variant(text::TrimCopy(Txtfields[1].Text)); };
  auto ponerColor = [&] { rs().Fields("Color") = Variant(std::to_string(Txtfields[2].BackColor)); };
  auto ponerTipo = [&] {
    if (const char tipo = TipoSeleccionado()) rs().Fields("Tipo") = Variant(std::string(1, tipo));
  };
  auto armarPrevios = [&] {
    previos = " ";
    for (const auto& e : LstEstPrev.Items)
      if (e.Selected) previos += e.Codigo + "|";
  };
  auto ponerPrevios = [&] { rs().Fields("PosiblesEstadoPrevio") = Variant(previos); };
  // A failed commit dropped the pending row: a retry commits the window's values again.
  auto rehacerFila = [&] {
    if (bNuevo) {
      rs().AddNew();
    } else if (bModifica) {
      releer();
      if (rs().EOF_())
        throw RaisedError(errnum::kRowNotFound, "El registro que intenta grabar ya no existe");
      rs().MoveFirst();
    }
    ponerCodigo();
    ponerDescripcion();
    ponerColor();
    ponerTipo();
    armarPrevios();
    ponerPrevios();
  };
  p.Paso([&] {
    codigo = Txtfields[0].Text;
    guardado = CodigoGuardado(codigo);
  });
  p.Paso([&] {
    if (bNuevo) p.IrA(pasoNuevo);
    else if (bModifica) p.IrA(pasoExistente);
    else if (bBorrar) p.IrA(pasoBaja);
    else p.IrA(pasoCampos);
  });
  pasoNuevo = p.Paso([&] {
    rs().AddNew();
    p.IrA(pasoCampos);
  });
  pasoExistente = p.Paso(releer);
  p.Paso([&] {
    if (!rs().EOF_()) return;
    Platform().MsgBox("El registro que intenta grabar ya no existe", mb::kInformation | mb::kOk, "Aviso al operador");
    p.Terminar();
  });
  p.Paso([&] {
    rs().MoveFirst();
    p.IrA(pasoCampos);
  });
  pasoBaja = p.Paso([&] {
    if (Platform().MsgBox("Confirma la baja de este registro?", mb::kYesNo | mb::kExclamation | mb::kDefault2, "Atención!") !=
        mb::kAnsYes)
      p.Terminar();
  });
  p.Paso([&] {
    SesionSistema.Datos->EjecutarSQL("DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '" + sqltext::Doubled(guardado) + "'", 0, nullptr);
  });
  p.Paso([&] {
    ado::Errors& errores = SesionSistema.Datos->ConexionAbierta().Errors();
    if (errores.Count() == 0) return;
    Platform().MsgBox(errores.Item(0).Description, mb::kCritical | mb::kOk, "Atención");
    p.Terminar();
  });
  p.Paso([&] {
    LimpiarPantalla();
    Generar(sTabla);
    p.Terminar();
  });
  pasoCampos = p.Paso(ponerCodigo);
  p.Paso(ponerDescripcion);
  p.Paso(ponerColor);
  p.Paso(ponerTipo);
  p.Paso(armarPrevios);
  p.Paso(ponerPrevios);
  size_t pasoGenerar = 0;
  p.Paso([&] {
    if (!bError) return;
    if (rsDatos && rsDatos->IsOpen() && rsDatos->EditPending()) rsDatos->CancelUpdate();
    p.IrA(pasoGenerar);
  });
  p.Paso([&] {
    const bool reintento = commitFallido;
    if (reintento) rehacerFila();
    commitFallido = false;
    actualizando = true;
    rs().Update();
    actualizando = false;
    if (reintento) bError = false;
  });
  p.Paso([&] {
    if (!commitFallido) return;
    // Ignored: nothing was saved, and the window stays as the operator left it.
    Platform().MsgBox("El status " + guardado + " no se grabó. Sus datos siguen en pantalla: puede grabar de nuevo o cancelar.",
                      mb::kInformation | mb::kOk, "Aviso al operador");
    p.Terminar();
  });
  p.Paso([&] {
    // Only after the commit: a failure while replicating never undoes the save.
    std::string tabla = "V_TA_ETAPAS";
    ReplicarTabla(tabla, 1, "'" + sqltext::Doubled(guardado) + "'", "", "", "", "", "", "", "", false);
  });
  p.Paso([&] { LimpiarPantalla(); });
  pasoGenerar = p.Paso([&] { Generar(sTabla); });
  p.Ejecutar();
}

void FrmV_TA_ETAPAS::ConsultarCampo() {
  CajaTexto& campo = Txtfields.at(static_cast<size_t>(iCampoActual));
  const std::string tag = text::TrimCopy(campo.Tag);
  if (tag.empty()) return;
  ClsConsulta& consulta = Consulta();
  consulta.Activar = true;
  consulta.ArchivoConsultas(ClsUtil::CompletarRuta(Platform().CarpetaPrograma()) + "CONSULTAS.CVL");
  std::string elegido;
  if (text::EqualsNoCase(tag, "FECHA")) {
    elegido = ClsUtil::PedirFecha();
  } else if (text::EqualsNoCase(tag, "V_TA_ETAPAS")) {
    consulta.CampoClave = "CODIGOESTADO";
    consulta.Mostrar("SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", nullptr, "", "", "", "", 0, "");
    elegido = consulta.Resultado();
    campo.Text = elegido;
  } else if (text::EqualsNoCase(tag, "Colores")) {
    cmdColor_Click();
  }
  campo.Text = text::EqualsNoCase(tag, "Fecha") ? elegido : text::TrimCopy(elegido);
  campo.SelStart = static_cast<int>(text::Length(campo.Text));
  // As if Enter had been pressed in the field.
  Txtfields_KeyDown(iCampoActual, tecla::kEnter, 0);
}

}  // namespace etapas
