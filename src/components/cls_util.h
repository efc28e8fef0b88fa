#pragma once
// The suite's utility components: ClsUtil, ClsEntorno, ClsIni and ClsAux.
#include <cstdint>
#include <functional>
#include <string>

#include "components/ado.h"
#include "components/error.h"
#include "components/variant.h"

namespace etapas {

class Ventana;

struct ClsUtil {
  // Prepares a window before its icon and skin are set (the suite's common look).
  static void PrepararFormulario(Ventana& ventana, int16_t opciones);
  // The component's error dialog: Abort/Retry/Ignore with the failure and the routine's
  // name; answers 3, 4 or 5.
  static int DialogoError(const RaisedError& error, const Variant& botones = {}, const std::string& rutina = "");
  // A value that is never Null: Null and Empty become "", anything else stays as it is
  // (its text: "." decimal point, True/False, dates as YYYY-MM-DD HH:MM:SS).
  static Variant ValorCampo(const Variant& valor);
  static Variant ValorCampo(const ado::Field& campo);
  // The number a text starts with (blanks skipped, "." or "," decimal point); 0 when none.
  static double ANumero(const std::string& texto);
  static double ANumero(const Variant& valor) { return ANumero(valor.ToText()); }
  static double ANumero(const char* texto) { return ANumero(std::string(texto)); }
  static std::string FormatoCodigo(const std::string& codigo, int largo = 0);
  // The folder with a final "/", ready for a file name; "" stays "".
  static std::string CompletarRuta(const std::string& carpeta);
  // At most `largo` characters of the text.
  static std::string RecortarTexto(const std::string& texto, int largo);
  static int ContarPalabras(const std::string& texto);
  // The text after the first separator; the whole text when there is none.
  static std::string ExtraerValor(const std::string& texto, const std::string& separador);
  // The stored form of an INI credential and back; Decodificar gives back any text that
  // Codificar did not produce unchanged.
  static std::string Codificar(const std::string& texto);
  static std::string Decodificar(const std::string& texto);
  static void IndicarEspera(bool espera);
  static bool Esperando();
  // A date chosen by the operator, as "dd/mm/yyyy"; the front end installs the dialog.
  // The front end's date picker (Plataforma::ElegirFecha); without one, today.
  static std::string PedirFecha();
};

struct ClsEntorno {
  static std::string NombreMaquina();
  static std::string UsuarioSesion();
  // A writable folder for the error log when TEMP and TMP name none: the data root.
  static std::string CarpetaSistema();
};

struct ClsIni {
  // The value of key in [seccion] of the INI file, or the default. Section and key names
  // ignore letter case, and so does the file name. A name without a folder is looked for
  // in the user's configuration folder ($XDG_CONFIG_HOME/etapas), then in the data root.
  static std::string LeerValor(const std::string& archivo, const std::string& seccion, const std::string& clave,
                               const std::string& defecto);
  static std::string RutaArchivo(const std::string& archivo);
};

struct ClsAux {
  static void Inicializar(const std::string& carpetaPrograma);
  static const std::string& Carpeta();
};

}  // namespace etapas
