// The command bar's commands, saving and deleting, and the field lookup.
#include <utility>

#include "common/mod_global.h"
#include "components/cls_consulta.h"
#include "components/cls_planilla.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/interrupcion.h"
#include "components/platform.h"
#include "components/sql_text.h"
#include "components/text.h"
#include "editor/frm_v_ta_etapas.h"
#include "replication/mod_grupos_emp.h"
#include "replication/recorrido.h"

namespace etapas {
namespace {}  // namespace

bool FrmV_TA_ETAPAS::Ocupado() const { return ReplicacionEnCurso(); }

void FrmV_TA_ETAPAS::Botonera1_Click(const std::string& clave) {
  // While a save is being carried to the points of sale the window lets events through;
  // no command may start then (a second GRABAR would start a second save).
  if (Ocupado()) return;
  static const char* const kComandos[] = {"NUEVO",     "BORRAR",  "GRABAR", "PLANILLA",
                                          "CONSULTAR", "REPORTE", "CERRAR", "CANCELAR"};
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
      if (bEditando &&
          Platform().MsgBox("Cancelar?", mb::kYesNo | mb::kExclamation | mb::kDefault2, "Atención!!!") != mb::kAnsYes)
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

namespace {

// A transaction on a session that is rolled back unless confirmed, also when a step fails
// (before its failure is told, so no lock is held while the operator reads it).
class Transaccion {
 public:
  explicit Transaccion(ClsDatos& db) : db_(db) { abierta_ = Ejecutar("BEGIN TRANSACTION"); }
  ~Transaccion() {
    if (abierta_) Ejecutar("ROLLBACK TRANSACTION");
  }
  Transaccion(const Transaccion&) = delete;
  Transaccion& operator=(const Transaccion&) = delete;
  // Raises the engine's refusal of the COMMIT: then nothing was saved.
  void Confirmar() {
    if (!std::exchange(abierta_, false)) return;
    db_.ConexionAbierta().Errors().Clear();
    db_.EjecutarSQL("COMMIT TRANSACTION", 0, nullptr);
    ado::Errors& errores = db_.ConexionAbierta().Errors();
    if (errores.Count() > 0) throw RaisedError(errores.Item(0).NativeError, errores.Item(0).Description);
  }

 private:
  bool Ejecutar(const std::string& sql) {
    try {
      db_.ConexionAbierta().Errors().Clear();
      db_.EjecutarSQL(sql, 0, nullptr);
      return db_.ConexionAbierta().Errors().Count() == 0;
    } catch (const RaisedError&) { return false; }
  }

  ClsDatos& db_;
  bool abierta_ = false;
};

// One save of the window (GRABAR, or BORRAR confirmed): a new status, an existing one or a
// deletion, each a list of steps; they share what the save has read and typed.
class Grabacion {
 public:
  explicit Grabacion(FrmV_TA_ETAPAS& f) : f_(f), p_([this](const RaisedError& e) { return Responder(e); }) {
    ArmarRamas();
    ArmarCommit();
    p_.Paso([this] {
      codigo_ = f_.Txtfields[0].Text;
      guardado_ = f_.CodigoGuardado(codigo_);
    });
    p_.Rama([this]() -> const Pasos::Lista* {
      if (f_.bNuevo) return &alta_;
      if (f_.bModifica) return &modificacion_;
      if (f_.bBorrar) return &baja_;
      return nullptr;
    });
    p_.Paso([this] { PonerCodigo(); });
    p_.Paso([this] { PonerDescripcion(); });
    p_.Paso([this] { PonerColor(); });
    p_.Paso([this] { PonerTipo(); });
    p_.Paso([this] { ArmarPrevios(); });
    p_.Paso([this] { PonerPrevios(); });
    p_.Paso([this] {
      if (!f_.bError) return;
      if (f_.rsDatos && f_.rsDatos->IsOpen() && f_.rsDatos->EditPending()) f_.rsDatos->CancelUpdate();
      sinCommit_ = true;
    });
    p_.Rama([this] { return sinCommit_ ? nullptr : &commit_; });
    p_.Paso([this] { f_.Generar(f_.sTabla); });
  }

  void Ejecutar() { p_.Ejecutar(); }

 private:
  int Responder(const RaisedError& e) {
    f_.bError = true;
    ClsUtil::IndicarEspera(false);
    const bool enCommit = actualizando_;
    if (actualizando_ && f_.rsDatos && f_.rsDatos->IsOpen() && f_.rsDatos->EditPending()) f_.rsDatos->CancelUpdate();
    actualizando_ = false;
    f_.bError = true;
    if (enCommit) {
      commitFallido_ = true;
      // What the operator typed is still on screen: CANCELAR asks before dropping it.
      f_.bEditando = true;
      if (f_.bNuevo && e.Number() == ado::native::kDuplicateKey) {
        Platform().MsgBox("Otro usuario creó el status " + guardado_ + " en la base " +
                              SesionSistema.Datos->BaseDatos() +
                              " mientras usted lo cargaba; su status no se grabó. Sus datos siguen en pantalla: "
                              "confirme el código para ver el del otro usuario, o escriba otro código.",
                          mb::kExclamation | mb::kOk, "Aviso al operador");
        return kAbandonar;
      }
    }
    return ClsUtil::DialogoError(e, Variant(), "");
  }

  ado::Recordset& Rs() {
    if (!f_.rsDatos) throw ObjectNotSet();
    return *f_.rsDatos;
  }
  void Releer() {
    SesionSistema.Datos->AbrirRecordset(
        "select * from V_TA_ETAPAS where CODIGOESTADO = '" + sqltext::Doubled(guardado_) + "'", f_.rsDatos, nullptr, 2,
        3, -1, true);
  }
  void PonerCodigo() {
    if (f_.bNuevo) Rs().Fields("CODIGOESTADO") = Variant(guardado_);
  }
  void PonerDescripcion() { Rs().Fields("Descripcion") = Variant(text::TrimCopy(f_.Txtfields[1].Text)); }
  void PonerColor() { Rs().Fields("Color") = Variant(std::to_string(f_.Txtfields[2].BackColor)); }
  void PonerTipo() {
    if (const char tipo = f_.TipoSeleccionado()) Rs().Fields("Tipo") = Variant(std::string(1, tipo));
  }
  void ArmarPrevios() {
    previos_ = " ";
    for (const auto& e : f_.LstEstPrev.Items)
      if (e.Selected) previos_ += e.Codigo + "|";
  }
  void PonerPrevios() { Rs().Fields("PosiblesEstadoPrevio") = Variant(previos_); }
  // A failed commit dropped the pending row: a retry commits the window's values again.
  void RehacerFila() {
    if (f_.bNuevo) {
      Rs().AddNew();
    } else if (f_.bModifica) {
      Releer();
      if (Rs().EOF_()) throw RaisedError(errnum::kRowNotFound, "El registro que intenta grabar ya no existe");
      Rs().MoveFirst();
    }
    PonerCodigo();
    PonerDescripcion();
    PonerColor();
    PonerTipo();
    ArmarPrevios();
    PonerPrevios();
  }

  // The row the fields are put into. A failing step ignored goes on with the steps that
  // follow it in the save's original order: a new row's AddNew with the existing row's
  // re-read, the existing row's MoveFirst with the deletion, the deletion's last step with
  // the fields.
  void ArmarRamas() {
    alta_.Paso([this] {
      Rs().AddNew();
      p_.TerminarLista();
    });
    alta_.Sublista(modificacion_);

    modificacion_.Paso([this] { Releer(); });
    modificacion_.Paso([this] {
      if (!Rs().EOF_()) return;
      Platform().MsgBox("El registro que intenta grabar ya no existe", mb::kInformation | mb::kOk, "Aviso al operador");
      p_.Terminar();
    });
    modificacion_.Paso([this] {
      Rs().MoveFirst();
      p_.TerminarLista();
    });
    modificacion_.Sublista(baja_);

    baja_.Paso([this] {
      if (Platform().MsgBox("Confirma la baja de este registro?", mb::kYesNo | mb::kExclamation | mb::kDefault2,
                            "Atención!") != mb::kAnsYes)
        p_.Terminar();
    });
    baja_.Paso([this] {
      SesionSistema.Datos->EjecutarSQL("DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '" + sqltext::Doubled(guardado_) + "'",
                                       0, nullptr);
    });
    baja_.Paso([this] {
      ado::Errors& errores = SesionSistema.Datos->ConexionAbierta().Errors();
      if (errores.Count() == 0) return;
      Platform().MsgBox(errores.Item(0).Description, mb::kCritical | mb::kOk, "Atención");
      p_.Terminar();
    });
    baja_.Paso([this] {
      f_.LimpiarPantalla();
      f_.Generar(f_.sTabla);
      p_.Terminar();
    });
  }

  // The commit and what follows it; skipped when a field could not be put.
  void ArmarCommit() {
    commit_.Paso([this] {
      const bool reintento = commitFallido_;
      if (reintento) RehacerFila();
      commitFallido_ = false;
      // The row and what every store will owe for it are committed together: no instant
      // leaves a store behind with nothing owed.
      AnotacionPrevia previa("V_TA_ETAPAS", 1, {"'" + sqltext::Doubled(guardado_) + "'"});
      Transaccion transaccion(*SesionSistema.Datos);
      previa.Anotar();
      actualizando_ = true;
      Rs().Update();
      transaccion.Confirmar();
      actualizando_ = false;
      if (reintento) f_.bError = false;
    });
    commit_.Paso([this] {
      if (!commitFallido_) return;
      // Ignored: nothing was saved, and the window stays as the operator left it.
      Platform().MsgBox(
          "El status " + guardado_ + " no se grabó. Sus datos siguen en pantalla: puede grabar de nuevo o cancelar.",
          mb::kInformation | mb::kOk, "Aviso al operador");
      p_.Terminar();
    });
    commit_.Paso([this] {
      // Only after the commit: a failure while replicating never undoes the save.
      std::string tabla = "V_TA_ETAPAS";
      ReplicarTabla(tabla, 1, "'" + sqltext::Doubled(guardado_) + "'", "", "", "", "", "", "", "", false);
    });
    commit_.Paso([this] { f_.LimpiarPantalla(); });
  }

  FrmV_TA_ETAPAS& f_;
  std::string codigo_, guardado_, previos_;
  bool actualizando_ = false;   // from just before the commit until it succeeded
  bool commitFallido_ = false;  // the last commit failed and its pending row was dropped
  bool sinCommit_ = false;      // a field could not be put: nothing is committed
  Pasos::Lista alta_, modificacion_, baja_, commit_;
  Pasos p_;
};

}  // namespace

void FrmV_TA_ETAPAS::GrabarRegistro() {
  // A save and its walk are not cut by a close or a logout: they stop between stores.
  TrabajoEnCurso trabajo;
  Grabacion(*this).Ejecutar();
}

void FrmV_TA_ETAPAS::ConsultarCampo() {
  CajaTexto& campo = Txtfields.at(static_cast<size_t>(iCampoActual));
  const std::string tag = text::TrimCopy(campo.Tag);
  if (tag.empty()) return;
  ClsConsulta& consulta = Consulta();
  consulta.Activar = true;
  consulta.ArchivoConsultas(UbicarArchivoConsultas(ClsUtil::CompletarRuta(Platform().CarpetaPrograma()),
                                                   SesionSistema.Datos->RaizDatos(), "CONSULTAS.CVL"));
  std::string elegido;
  if (text::EqualsNoCase(tag, "FECHA")) {
    elegido = ClsUtil::PedirFecha();
  } else if (text::EqualsNoCase(tag, "V_TA_ETAPAS")) {
    consulta.CampoClave = "CODIGOESTADO";
    consulta.Mostrar("SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", nullptr, "", "", "", "",
                     0, "");
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
