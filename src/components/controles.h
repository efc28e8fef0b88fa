#pragma once
// The controls a window model is made of, and the field and command-bar components the
// editor drives. Front ends draw these and send the operator's actions back.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "components/variant.h"

namespace etapas {

inline constexpr int32_t kBlanco = 16777215;

struct CajaTexto {
  std::string Text;
  bool Enabled = true;
  int32_t BackColor = kBlanco;
  std::string DataField;
  std::string Tag;    // the lookup the field offers
  int MaxLength = 0;  // 0: no limit
  int SelStart = 0;   // the caret
  int TabIndex = 0;
};

struct BotonOpcion {
  std::string Caption;
  bool Value = false;
  bool Enabled = true;
};

struct EntradaLista {
  std::string Text;
  std::string Codigo;  // kept beside the entry: long descriptions still give their code
  bool Selected = false;
};

struct ListaMultiple {
  std::vector<EntradaLista> Items;
  bool Enabled = true;
  void Clear() { Items.clear(); }
  void AddItem(std::string text, std::string codigo) { Items.push_back({std::move(text), std::move(codigo), false}); }
};

struct Marco {
  std::string Caption;
  bool Enabled = true;
};

struct Boton {
  std::string Caption;
  std::string ToolTipText;
  bool Enabled = true;
};

// The colour dialog (the front end's, Plataforma::ElegirColor): keeps the colour it last
// reported and reports it again on cancel.
struct DialogoColor {
  int32_t Color = kBlanco;
  void ShowColor();
};

// The suite's command bar: one button per command key, raising its click with the key.
class Botonera {
 public:
  struct BotonBarra {
    std::string Clave;  // "NUEVO", ...
    std::string Caption;
    std::string ToolTip;
    int16_t Tecla;  // the key that presses it
    bool Enabled = true;
  };

  Botonera();
  std::vector<BotonBarra>& Botones() { return botones_; }
  BotonBarra* Boton(const std::string& clave);
  // Enables or disables the button of a command key.
  void Habilitar(const std::string& clave, bool enabled);
  bool Habilitado(const std::string& clave) const;
  // A key of the window: the button it stands for is clicked when enabled.
  void ProcesarTecla(int16_t tecla);
  // What the operator's click (or a key) raises.
  std::function<void(const std::string& clave)> Click;
  Variant StyleBar;

 private:
  std::vector<BotonBarra> botones_;
};

// Key codes of the platform.
namespace tecla {
inline constexpr int16_t kTab = 9, kEnter = 13, kEscape = 27, kF1 = 112, kF2 = 113, kF3 = 114, kF4 = 115, kF5 = 116,
                         kF6 = 117, kF7 = 118, kF8 = 119, kF9 = 120, kF10 = 121, kF11 = 122, kF12 = 123;
}

// The suite's field component: which key confirms a field and where the focus goes next.
struct ClsCampos {
  // The index of the field whose data field is `nombre` (ignoring case), or -1.
  static int IndiceCampo(const std::string& nombre, const std::vector<CajaTexto>& campos);
  static void LimpiarCampos(std::vector<CajaTexto>& campos);
  static bool TeclaConfirma(int16_t& tecla);
  // The next enabled field after `actual` in tab order, or -1 (the focus leaves the fields).
  static int PasarSiguiente(int16_t tecla, const std::vector<CajaTexto>& campos, int actual);
};

}  // namespace etapas
