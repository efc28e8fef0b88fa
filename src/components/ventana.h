#pragma once
// What the shared routines ask of a window: its type name, icon, properties of its
// controls found by name, and its skinning control. The editor's model implements it and
// the Qt window draws what the model holds.
#include <string>

#include "components/variant.h"

namespace etapas {

// The skinning control: loads a skin file and applies it to a window.
class SkinFramework {
 public:
  virtual ~SkinFramework() = default;
  // Raises when the file is missing or not a skin this control reads.
  virtual void LoadSkin(const std::string& ruta, const std::string& ini) = 0;
  virtual void ApplyWindow(long handle) = 0;
  virtual int ApplyOptions() const = 0;
  virtual void ApplyOptions(int opciones) = 0;
};

class Ventana {
 public:
  virtual ~Ventana() = default;
  virtual std::string NombreTipo() const = 0;  // "FrmV_TA_ETAPAS"
  virtual long Handle() const = 0;
  virtual bool TieneIcono() const = 0;
  // Raise when the picture cannot be had (no such resource, no such file).
  virtual void IconoDeRecurso(const std::string& nombre) = 0;
  virtual void IconoDeArchivo(const std::string& ruta) = 0;
  // Sets a property of a control found by name; raises when the window has no such control.
  virtual void AsignarPropiedad(const std::string& control, const std::string& propiedad, const Variant& valor) = 0;
  // The window's skinning control; raises when it has none.
  virtual SkinFramework& SkinFramework1() = 0;
};

// The icon pictures compiled into the program, by resource name.
bool ExisteRecursoIcono(const std::string& nombre);

}  // namespace etapas
