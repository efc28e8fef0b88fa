#include "editor/frm_v_ta_etapas.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/text.h"
#include "components/sql_text.h"
#include "editor/ast.h"
#include "session/inicio.h"

namespace etapas {
namespace {

FrmV_TA_ETAPAS*& Instancia() {
  static FrmV_TA_ETAPAS* f = nullptr;
  return f;
}

// The editor's routines report through the component's dialog, with their label.
Reportador Dialogo(const char* rutina) {
  return [rutina](const RaisedError& e) { return ClsUtil::DialogoError(e, Variant(), rutina); };
}

constexpr size_t kBlancosLista = 100;

}  // namespace

FrmV_TA_ETAPAS* VentanaEditor() { return Instancia(); }

FrmV_TA_ETAPAS::FrmV_TA_ETAPAS() {
  Txtfields = {
      {"", true, kBlanco, "IdStatus", "V_TA_ETAPAS", 4, 0, 0},
      {"", true, kBlanco, "DESCRIPCION", "", 100, 0, 1},
      {"", true, kBlanco, "Color", "COLORES", 0, 0, 2},
  };
  Botonera1.Click = [this](const std::string& clave) { Botonera1_Click(clave); };
}

std::vector<BotonOpcion*> FrmV_TA_ETAPAS::Opciones() {
  return {&optPendiente, &optEnCurso, &optFinalizado, &optAnulado, &OPtFacturar};
}

void FrmV_TA_ETAPAS::SeleccionarTipo(BotonOpcion& opcion) {
  for (auto* o : Opciones()) o->Value = o == &opcion;
}

char FrmV_TA_ETAPAS::TipoSeleccionado() const {
  if (optPendiente.Value) return 'P';
  if (optEnCurso.Value) return 'E';
  if (optFinalizado.Value) return 'F';
  if (optAnulado.Value) return 'A';
  if (OPtFacturar.Value) return 'T';
  return '\0';
}

bool FrmV_TA_ETAPAS::ElegirTipo(char letra) {
  if (!frmAttr.Enabled || Ocupado()) return false;
  const std::string letras = "PEFAT";
  const auto pos = letras.find(text::Upper(std::string(1, letra)));
  if (pos == std::string::npos) return false;
  SeleccionarTipo(*Opciones()[pos]);
  return true;
}

bool FrmV_TA_ETAPAS::AlternarEntrada(size_t index) {
  if (!LstEstPrev.Enabled || Ocupado() || index >= LstEstPrev.Items.size()) return false;
  LstEstPrev.Items[index].Selected = !LstEstPrev.Items[index].Selected;
  return true;
}

bool FrmV_TA_ETAPAS::MarcarEntrada(size_t index, bool seleccionada) {
  if (!LstEstPrev.Enabled || Ocupado() || index >= LstEstPrev.Items.size()) return false;
  LstEstPrev.Items[index].Selected = seleccionada;
  return true;
}

bool FrmV_TA_ETAPAS::Escribir(int index, const std::string& texto, int caret) {
  if (index < 0 || index >= static_cast<int>(Txtfields.size())) return false;
  CajaTexto& c = Txtfields[static_cast<size_t>(index)];
  if (!c.Enabled || Ocupado()) return false;
  c.Text = c.MaxLength > 0 ? text::Left(texto, static_cast<size_t>(c.MaxLength)) : texto;
  const int largo = static_cast<int>(text::Length(c.Text));
  c.SelStart = caret < 0 || caret > largo ? largo : caret;
  return true;
}

void FrmV_TA_ETAPAS::MoverCaret(int index, int caret) {
  if (index < 0 || index >= static_cast<int>(Txtfields.size())) return;
  CajaTexto& c = Txtfields[static_cast<size_t>(index)];
  c.SelStart = std::clamp(caret, 0, static_cast<int>(text::Length(c.Text)));
}

void FrmV_TA_ETAPAS::SetFocus(int index) {
  if (!Visible || index < 0 || index >= static_cast<int>(Txtfields.size()) ||
      !Txtfields[static_cast<size_t>(index)].Enabled)
    throw RaisedError(errnum::kInvalidArgument, "Invalid procedure call or argument");
  foco_ = index;
  Txtfields_GotFocus(static_cast<int16_t>(index));
}

// ---- Load and unload ------------------------------------------------------------------------

void FrmV_TA_ETAPAS::Form_Load() {
  Instancia() = this;
  // No failure handling of its own: a failure here stops the loading.
  ClsUtil::PrepararFormulario(*this, 0);
  AsignarIcono(*this);
  std::string cadena;
  IniciarSesion(false, "", cadena, 3);
  AplicarEstilo(*this);
  sTabla = "V_TA_ETAPAS";
  LimpiarPantalla();
  Generar(sTabla);
  Txtfields[0].Text.clear();
}

void FrmV_TA_ETAPAS::Form_Unload(int16_t&) {
  Pasos p(Dialogo("Unload"));
  p.Paso([&] {
    if (rsDatos && rsDatos->IsOpen()) rsDatos->Close();
    rsDatos.reset();
  });
  p.Paso([&] { Visible = false; });
  p.Paso([&] { Instancia() = nullptr; });
  p.Paso([&] { Platform().TerminarProceso(); });
  p.Ejecutar();
}

// ---- Keys and focus -------------------------------------------------------------------------

void FrmV_TA_ETAPAS::Form_KeyDown(int16_t keyCode, int16_t) {
  if (!Ocupado()) Botonera1.ProcesarTecla(keyCode);
}

void FrmV_TA_ETAPAS::FijarConsultar(int16_t index) {
  Botonera1.Habilitar("CONSULTAR", !text::Trim(Txtfields.at(static_cast<size_t>(index)).Tag).empty());
}

void FrmV_TA_ETAPAS::Txtfields_GotFocus(int16_t index) {
  iCampoActual = index;
  FijarConsultar(index);
}

void FrmV_TA_ETAPAS::Txtfields_KeyDown(int16_t index, int16_t keyCode, int16_t) {
  // Keys typed while a save is being replicated must not open another status.
  if (Ocupado()) return;
  if (ClsCampos::TeclaConfirma(keyCode)) {
    Campo_Valida(index);
    if (!bError) {
      const int siguiente = ClsCampos::PasarSiguiente(keyCode, Txtfields, index);
      if (siguiente >= 0 && Visible)
        SetFocus(siguiente);
      else
        foco_ = -1;
    }
  }
  FijarConsultar(index);
}

void FrmV_TA_ETAPAS::cmdColor_Click() {
  if (Ocupado()) return;
  cdlColor.ShowColor();
  Txtfields[2].BackColor = cdlColor.Color;
}

// ---- Reset and enabling -------------------------------------------------------------------

void FrmV_TA_ETAPAS::LimpiarPantalla() {
  Pasos p(SaltarSiempre);
  p.Paso([&] {
    bNuevo = false;
    bBorrar = false;
    bModifica = false;
    codigoBuscado_.clear();
    codigoTabla_.clear();
  });
  p.Paso([&] { HabilitarCampos(false); });
  p.Paso([&] { Txtfields[2].BackColor = kBlanco; });
  p.Paso([&] { SeleccionarTipo(optPendiente); });
  p.Paso([&] { LstEstPrev.Clear(); });
  p.Paso([&] { ClsCampos::LimpiarCampos(Txtfields); });
  p.Paso([&] { SetFocus(0); });
  p.Ejecutar();
}

void FrmV_TA_ETAPAS::HabilitarCampos(bool habilitar) {
  for (auto& c : Txtfields) c.Enabled = habilitar;
  cmdColor.Enabled = habilitar;
  LstEstPrev.Enabled = habilitar;
  frmAttr.Enabled = habilitar;
  if (!habilitar) Txtfields[0].Enabled = true;
  if (foco_ >= 0 && !Txtfields[static_cast<size_t>(foco_)].Enabled) foco_ = -1;
  // Idle: a new status or the listing; editing: save, delete, cancel. REPORTE does
  // nothing, so its button stays off; CERRAR is always there.
  Botonera1.Habilitar("NUEVO", !habilitar);
  Botonera1.Habilitar("PLANILLA", !habilitar);
  Botonera1.Habilitar("GRABAR", habilitar);
  Botonera1.Habilitar("BORRAR", habilitar);
  Botonera1.Habilitar("CANCELAR", habilitar);
  Botonera1.Habilitar("REPORTE", false);
}

// ---- Looking a code up ----------------------------------------------------------------------

void FrmV_TA_ETAPAS::Campo_Valida(int16_t index) {
  std::string texto, campo;
  bool existe = false;
  Pasos p(Dialogo("Campo_Valida"));
  Pasos::Lista codigo, descripcion;
  p.Paso([&] { bError = false; });
  p.Paso([&] { texto = text::TrimCopy(Txtfields.at(static_cast<size_t>(index)).Text); });
  p.Paso([&] { campo = Txtfields.at(static_cast<size_t>(index)).DataField; });
  p.Rama([&]() -> const Pasos::Lista* {
    if (text::EqualsNoCase(campo, "IdStatus")) return &codigo;
    if (text::EqualsNoCase(campo, "Descripcion")) return &descripcion;
    return nullptr;
  });
  codigo.Paso([&] {
    // The points of sale receive values without their apostrophes: such a code would be
    // stored there under another key. "|" separates the codes of the previous statuses.
    const bool apostrofe = texto.find('\'') != std::string::npos;
    if (!apostrofe && texto.find('|') == std::string::npos) return;
    bError = true;
    Platform().MsgBox(apostrofe
                          ? "El código de status no puede contener apóstrofes ('). Escriba el código sin ese carácter."
                          : "El código de status no puede contener la barra vertical (|), que separa los estados "
                            "previos. Escriba el código sin ese carácter.",
                      mb::kExclamation | mb::kOk, "Aviso al operador");
    SetFocus(index);
    p.Terminar();
  });
  codigo.Paso([&] {
    if (!bGrabando) LlenarEstadosPrevios();
  });
  codigo.Paso([&] {
    codigoBuscado_.clear();
    codigoTabla_.clear();
    existe = SesionSistema.Datos->BuscarRegistro("V_TA_ETAPAS", texto, "CODIGOESTADO", rsDatos, 8, "", false);
    codigoBuscado_ = texto;
    // Another program may have stored it unpadded: that row is the one saved and deleted.
    if (existe) codigoTabla_ = ClsUtil::ValorCampo(rsDatos->Fields("CODIGOESTADO")).ToText();
  });
  codigo.Paso([&] {
    if (!existe) return;
    bModifica = true;
    bNuevo = false;
    if (!bGrabando) AsignarDatos();
  });
  codigo.Paso([&] {
    if (existe) return;
    if (!bGrabando) {
      Txtfields[1].Text.clear();
      Txtfields[2].BackColor = kBlanco;
      SeleccionarTipo(optPendiente);
    }
    bNuevo = true;
    bModifica = false;
    bBorrar = false;
  });
  codigo.Paso([&] { HabilitarCampos(true); });
  codigo.Paso([&] { bEditando = true; });
  descripcion.Paso([&] {
    if (!texto.empty()) return;
    bError = true;
    Platform().MsgBox("Debe ingresar una descripción", mb::kInformation | mb::kOk, "Aviso al operador...");
    SetFocus(index);
  });
  p.Ejecutar();
}

void FrmV_TA_ETAPAS::LlenarEstadosPrevios() {
  LstEstPrev.Clear();
  // The stored form of the typed code, so the open status is never offered as its own
  // predecessor; a quote in the code stays a character.
  const std::string propio = sqltext::Doubled(ClsUtil::FormatoCodigo(Txtfields[0].Text, kLargoCodigo));
  // A row stored unpadded by another program is the open status too.
  const std::string tecleado = text::TrimCopy(Txtfields[0].Text);
  ado::RecordsetPtr rs;
  ClsDatos& datos = *SesionSistema.Datos;
  datos.AbrirRecordset("SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS WHERE CODIGOESTADO<>'" + propio + "'", rs,
                       nullptr, 0, 1, -1, true);
  if (!rs->EOF_()) {
    rs->MoveFirst();
    const int iCodigo = rs->FieldIndex("CODIGOESTADO").value_or(0);
    const int iDescripcion = rs->FieldIndex("DESCRIPCION").value_or(1);
    for (; !rs->EOF_(); rs->MoveNext()) {
      // Straight from the row: a long table makes this the editor's busiest loop.
      const Variant& cod = rs->Valor(iCodigo);
      const Variant& desc = rs->Valor(iDescripcion);
      std::string codigo = cod.kind() == Variant::Kind::Text ? cod.AsText() : ClsUtil::ValorCampo(cod).ToText();
      if (!tecleado.empty() && text::TrimCopy(codigo) == tecleado) continue;
      std::string entrada = desc.kind() == Variant::Kind::Text ? desc.AsText() : ClsUtil::ValorCampo(desc).ToText();
      entrada.reserve(entrada.size() + kBlancosLista + codigo.size());
      entrada.append(kBlancosLista, ' ');
      entrada += codigo;
      LstEstPrev.Items.push_back({std::move(entrada), text::TrimCopy(codigo), false});
    }
  }
  datos.CerrarRecordset(rs);
}

void FrmV_TA_ETAPAS::AsignarDatos() {
  Pasos p([](const RaisedError& e) {
    // No current row: the display ends quietly with what it has shown.
    if (e.Number() == errnum::kNoCurrentRecord) return kAbandonar;
    return ClsUtil::DialogoError(e, Variant(), "AsignarDatos");
  });
  auto valor = [&](const char* campo) { return ClsUtil::ValorCampo(rsDatos->Fields(campo)).ToText(); };
  auto requiereRs = [&] {
    if (!rsDatos) throw ObjectNotSet();
  };
  p.Paso([&] { bModifica = true; });
  p.Paso([&] {
    requiereRs();
    Txtfields[1].Text = valor("Descripcion");
  });
  p.Paso([&] {
    requiereRs();
    const std::string color = valor("Color");
    if (color.empty()) {
      Txtfields[2].BackColor = kBlanco;
    } else {
      auto n = Variant(color).ToNumber();
      if (!n) throw RaisedError(errnum::kTypeMismatch, "Type mismatch");
      Txtfields[2].BackColor = CLng(*n);
    }
  });
  p.Paso([&] {
    requiereRs();
    const std::string tipo = text::Upper(valor("Tipo"));
    if (tipo == "P" || tipo.empty())
      SeleccionarTipo(optPendiente);
    else if (tipo == "E")
      SeleccionarTipo(optEnCurso);
    else if (tipo == "F")
      SeleccionarTipo(optFinalizado);
    else if (tipo == "A")
      SeleccionarTipo(optAnulado);
    else if (tipo == "T")
      SeleccionarTipo(OPtFacturar);
  });
  p.Paso([&] {
    requiereRs();
    std::string resto = text::TrimCopy(valor("PosiblesEstadoPrevio"));
    while (!resto.empty()) {
      // A last code without its "|" still counts.
      const auto barra = resto.find('|');
      const std::string codigo = resto.substr(0, barra);
      resto = barra == std::string::npos ? "" : resto.substr(barra + 1);
      for (auto& e : LstEstPrev.Items) {
        if (text::EqualsNoCase(e.Codigo, codigo)) {
          e.Selected = true;
          break;
        }
      }
    }
  });
  p.Ejecutar();
}

std::string FrmV_TA_ETAPAS::CodigoGuardado(const std::string& texto) const {
  const std::string t = text::TrimCopy(texto);
  if (!codigoTabla_.empty() && t == codigoBuscado_) return codigoTabla_;
  return ClsUtil::FormatoCodigo(t, kLargoCodigo);
}

// ---- The structure probe ----------------------------------------------------------------

void FrmV_TA_ETAPAS::Generar(const std::string&) {
  ado::ConnectionPtr conexion;
  ado::RecordsetPtr nuevo;
  Pasos p(Dialogo("Generar"));
  p.Paso([] { ast::LeerDigitosCuenta(); });
  p.Paso([] { ast::LeerPosicionesCuenta(); });
  p.Paso([&] { conexion = SesionSistema.Datos->Conexion(); });
  p.Paso([&] {
    SesionSistema.Datos->AbrirRecordset("SELECT  top 1 * FROM " + sTabla + " WITH(NOLOCK) ", nuevo, conexion, 2, 3, -1,
                                        true);
    rsDatos = nuevo;
  });
  p.Ejecutar();
}

// ---- The window's icon and skin --------------------------------------------------------

void FrmV_TA_ETAPAS::IconoDeRecurso(const std::string& nombre) {
  if (!ExisteRecursoIcono(nombre))
    throw RaisedError(errnum::kResourceNotFound, "Resource with identifier '" + nombre + "' not found");
  icono_ = "recurso:" + text::Upper(nombre);
}

void FrmV_TA_ETAPAS::IconoDeArchivo(const std::string& ruta) {
  if (!std::filesystem::is_regular_file(ruta)) throw RaisedError(errnum::kFileNotFound, "File not found: " + ruta);
  icono_ = "archivo:" + ruta;
}

void FrmV_TA_ETAPAS::AsignarPropiedad(const std::string& control, const std::string& propiedad, const Variant& valor) {
  if (text::EqualsNoCase(control, "Botonera1") && text::EqualsNoCase(propiedad, "StyleBar")) {
    Botonera1.StyleBar = valor;
    return;
  }
  throw RaisedError(errnum::kControlNotFound, "Control '" + control + "' not found");
}

void FrmV_TA_ETAPAS::LoadSkin(const std::string& ruta, const std::string& ini) {
  std::string archivo = ruta;
  if (std::filesystem::is_directory(ruta) && !ini.empty()) archivo = ruta + "/" + ini;
  std::ifstream in(archivo, std::ios::binary);
  if (!in) throw RaisedError(errnum::kFileNotFound, "File not found: " + archivo);
  std::stringstream s;
  s << in.rdbuf();
  const std::string contenido = s.str();
  // Our skins are style sheets: text, not another program's binary skin format.
  if (contenido.find('\0') != std::string::npos || text::Trim(contenido).empty())
    throw RaisedError(errnum::kNotASkin, "The file " + archivo + " is not a skin this program can read");
  skinPendiente_ = contenido;
  skinRuta_ = archivo;
}

void FrmV_TA_ETAPAS::ApplyWindow(long) { hojaEstilo_ = skinPendiente_; }

}  // namespace etapas
