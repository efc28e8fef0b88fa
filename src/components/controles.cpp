#include "components/controles.h"

#include "components/platform.h"
#include "components/text.h"

namespace etapas {

void DialogoColor::ShowColor() {
  if (auto elegido = Platform().ElegirColor(Color)) Color = *elegido;
}

Botonera::Botonera()
    : botones_{{"NUEVO", "Nuevo", "Nuevo registro (F2)", tecla::kF2},
               {"BORRAR", "Borrar", "Borrar el registro (F6)", tecla::kF6},
               {"GRABAR", "Grabar", "Grabar el registro (F5)", tecla::kF5},
               {"PLANILLA", "Planilla", "Planilla de la tabla (F7)", tecla::kF7},
               {"CONSULTAR", "Consultar", "Consultar el campo (F3)", tecla::kF3},
               {"REPORTE", "Reporte", "Reporte (F8)", tecla::kF8},
               {"CERRAR", "Cerrar", "Cerrar la ventana (F12)", tecla::kF12},
               {"CANCELAR", "Cancelar", "Cancelar (Esc)", tecla::kEscape}} {}

Botonera::BotonBarra* Botonera::Boton(const std::string& clave) {
  for (auto& b : botones_)
    if (text::EqualsNoCase(b.Clave, clave)) return &b;
  return nullptr;
}

void Botonera::Habilitar(const std::string& clave, bool enabled) {
  if (auto* b = Boton(clave)) b->Enabled = enabled;
}

bool Botonera::Habilitado(const std::string& clave) const {
  for (const auto& b : botones_)
    if (text::EqualsNoCase(b.Clave, clave)) return b.Enabled;
  return false;
}

void Botonera::ProcesarTecla(int16_t t) {
  for (const auto& b : botones_) {
    if (b.Tecla != t) continue;
    if (b.Enabled && Click) Click(b.Clave);
    return;
  }
}

int ClsCampos::IndiceCampo(const std::string& nombre, const std::vector<CajaTexto>& campos) {
  for (size_t i = 0; i < campos.size(); ++i)
    if (text::EqualsNoCase(campos[i].DataField, nombre)) return static_cast<int>(i);
  return -1;
}

void ClsCampos::LimpiarCampos(std::vector<CajaTexto>& campos) {
  for (auto& c : campos) {
    c.Text.clear();
    c.SelStart = 0;
  }
}

bool ClsCampos::TeclaConfirma(int16_t& t) { return t == tecla::kEnter; }

int ClsCampos::PasarSiguiente(int16_t, const std::vector<CajaTexto>& campos, int actual) {
  int siguiente = -1;
  for (size_t i = 0; i < campos.size(); ++i) {
    const auto& c = campos[i];
    if (!c.Enabled || c.TabIndex <= (actual >= 0 ? campos[static_cast<size_t>(actual)].TabIndex : -1)) continue;
    if (siguiente < 0 || c.TabIndex < campos[static_cast<size_t>(siguiente)].TabIndex) siguiente = static_cast<int>(i);
  }
  return siguiente;
}

}  // namespace etapas
