#pragma once
// Session start-up: the command line, the main and statistics connections, the usage
// record, and the window's icon and skin.
#include <string>

#include "components/ventana.h"

namespace etapas {

inline constexpr const char* kArchivoIni = "KT512rl.INI";

void IniciarSesion(bool usarIni, const std::string& comando, std::string& cadenaConexion, long modoConexion);
void ConectarEstadistica();
void RegistrarAcceso(const std::string& proceso);
void AsignarIcono(Ventana& ventana);
void AplicarEstilo(Ventana& ventana);

// The help file set at start-up (the application object's help file).
const std::string& ArchivoAyuda();

// The values the command line gives, as start-up parses them.
struct ValoresComando {
  std::string servidor, baseDatos, usuario, clave;
};
// Parses the eight keys of `comando` into `valores` and SesionSistema.
void ParsearComando(const std::string& comando, ValoresComando& valores);
// The command built from the workstation's INI section.
std::string ComandoPorDefecto();

// The skin file (relative to the program folder) and its INI name for a skin number.
struct ArchivoSkin {
  std::string archivo, ini;
};
ArchivoSkin SkinDeEstilo(int estilo);

}  // namespace etapas
