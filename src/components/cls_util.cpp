#include "components/cls_util.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "components/cls_datos.h"
#include "engine/session.h"
#include "components/platform.h"
#include "components/text.h"
#include "components/variant.h"

namespace etapas {
namespace {

bool& Waiting() {
  static bool w = false;
  return w;
}

std::string& AuxFolder() {
  static std::string f;
  return f;
}

constexpr const char* kCodedPrefix = "~";
constexpr const char* kKey = "Etapas-KT";

}  // namespace

void ClsUtil::PrepararFormulario(Ventana&, int16_t) {}

int ClsUtil::DialogoError(const RaisedError& error, const Variant&, const std::string& rutina) {
  std::string prompt = "Error " + std::to_string(error.Number()) + ": " + text::TrimCopy(error.Description());
  if (!rutina.empty()) prompt += "\n\nRutina: " + rutina;
  const std::string title = error.Source().empty() ? "Aviso al operador" : error.Source() + " - Aviso al operador";
  return Platform().MsgBox(prompt, mb::kAbortRetryIgnore | mb::kCritical, title);
}

Variant ClsUtil::ValorCampo(const Variant& valor) {
  if (valor.IsNull() || valor.IsEmpty()) return Variant("");
  return valor;
}

Variant ClsUtil::ValorCampo(const ado::Field& campo) { return ValorCampo(campo.Value()); }

double ClsUtil::ANumero(const std::string& texto) {
  std::string_view t = text::Trim(texto);
  std::string digits;
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) digits += t[i++];
  bool any = false, point = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      digits += c;
      any = true;
    } else if ((c == '.' || c == ',') && !point) {
      digits += '.';
      point = true;
    } else {
      break;
    }
  }
  if (!any) return 0;
  return ReadNumber(digits);
}

std::string ClsUtil::FormatoCodigo(const std::string& codigo, int largo) {
  return etapas::FormatoCodigo(codigo, largo);
}

std::string ClsUtil::CompletarRuta(const std::string& carpeta) {
  std::string c = text::TrimCopy(carpeta);
  if (c.empty() || c.back() == '/') return c;
  return c + "/";
}

std::string ClsUtil::RecortarTexto(const std::string& texto, int largo) {
  if (largo < 0) throw RaisedError(errnum::kInvalidArgument, "Invalid procedure call or argument");
  return text::Left(texto, static_cast<size_t>(largo));
}

int ClsUtil::ContarPalabras(const std::string& texto) {
  int n = 0;
  bool inWord = false;
  for (char c : texto) {
    bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (!space && !inWord) ++n;
    inWord = !space;
  }
  return n;
}

std::string ClsUtil::ExtraerValor(const std::string& texto, const std::string& separador) {
  if (separador.empty()) return texto;
  auto p = texto.find(separador);
  return p == std::string::npos ? texto : texto.substr(p + separador.size());
}

std::string ClsUtil::Codificar(const std::string& texto) {
  // Not secrecy (the file is the workstation's): it keeps credentials from being read at a glance.
  std::string out = kCodedPrefix;
  const std::string key = kKey;
  for (size_t i = 0; i < texto.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(texto[i]) ^ static_cast<unsigned char>(key[i % key.size()]);
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", c);
    out += buf;
  }
  return out;
}

std::string ClsUtil::Decodificar(const std::string& texto) {
  if (texto.rfind(kCodedPrefix, 0) != 0 || (texto.size() - 1) % 2 != 0) return texto;
  const std::string key = kKey;
  std::string out;
  for (size_t i = 1, k = 0; i + 1 < texto.size(); i += 2, ++k) {
    unsigned v = 0;
    if (std::sscanf(texto.c_str() + i, "%2X", &v) != 1) return texto;
    out += static_cast<char>(static_cast<unsigned char>(v) ^ static_cast<unsigned char>(key[k % key.size()]));
  }
  return out;
}

void ClsUtil::IndicarEspera(bool espera) { Waiting() = espera; }
bool ClsUtil::Esperando() { return Waiting(); }

std::string ClsUtil::PedirFecha() {
  if (auto elegida = Platform().ElegirFecha()) return *elegida;
  DateTime now = DateTime::Now();
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", now.day, now.month, now.year);
  return buf;
}

std::string ClsEntorno::NombreMaquina() { return Platform().NombreMaquina(); }
std::string ClsEntorno::UsuarioSesion() { return Platform().UsuarioSesion(); }

std::string ClsEntorno::CarpetaSistema() {
  std::string root = engine::DefaultDataRoot();
  mkdir(root.c_str(), 0755);
  return root;
}

std::string ClsIni::RutaArchivo(const std::string& archivo) {
  // A bare name is a settings file: the user's configuration folder, then the data root.
  auto slash = archivo.rfind('/');
  if (slash == std::string::npos) return engine::SettingsFile(engine::DefaultDataRoot(), archivo);
  // The suite spells the same file in different cases.
  const std::string found = engine::FileNamedNoCase(archivo.substr(0, slash), archivo.substr(slash + 1));
  return found.empty() ? archivo : found;
}

std::string ClsIni::LeerValor(const std::string& archivo, const std::string& seccion, const std::string& clave,
                              const std::string& defecto) {
  std::ifstream in(RutaArchivo(archivo));
  if (!in) return defecto;
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    std::string_view l = text::Trim(line);
    if (l.empty() || l.front() == ';' || l.front() == '#') continue;
    if (l.front() == '[') {
      auto close = l.find(']');
      inSection = close != std::string_view::npos &&
                  text::EqualsNoCase(text::Trim(l.substr(1, close - 1)), text::Trim(seccion));
      continue;
    }
    if (!inSection) continue;
    auto eq = l.find('=');
    if (eq == std::string_view::npos) continue;
    if (!text::EqualsNoCase(text::Trim(l.substr(0, eq)), text::Trim(clave))) continue;
    std::string value = text::TrimCopy(l.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
  }
  return defecto;
}

void ClsAux::Inicializar(const std::string& carpetaPrograma) { AuxFolder() = carpetaPrograma; }
const std::string& ClsAux::Carpeta() { return AuxFolder(); }

}  // namespace etapas
