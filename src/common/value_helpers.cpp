// Booleans in words, date patterns, server names and the server's clock.
#include <cmath>
#include <cstdio>

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/text.h"
#include "components/sql_text.h"
#include "components/variant.h"

namespace etapas {

bool ValorBooleano(const std::string& texto, bool defecto) {
  const std::string t = text::Upper(texto);
  if (defecto) return !(t == "FALSE" || t == "FALSO" || t == "0" || t == "NO" || t == "N");
  return t == "TRUE" || t == "VERDADERO" || t == "1" || t == "SI" || t == "S";
}

std::string FormatoFechaHora() { return "dd/mm/yy hh:mm"; }
std::string FormatoFecha() { return "dd/mm/yy"; }
std::string FormatoHora() { return "hh:mm"; }

std::string Formatear(const DateTime& f, const std::string& patron) {
  std::string out;
  bool afterHour = false;
  for (size_t i = 0; i < patron.size();) {
    auto is = [&](const char* token) { return patron.compare(i, std::char_traits<char>::length(token), token) == 0; };
    char buf[8];
    if (is("yyyy")) {
      std::snprintf(buf, sizeof buf, "%04d", f.year);
      i += 4;
    } else if (is("yy")) {
      std::snprintf(buf, sizeof buf, "%02d", f.year % 100);
      i += 2;
    } else if (is("dd")) {
      std::snprintf(buf, sizeof buf, "%02d", f.day);
      i += 2;
    } else if (is("hh")) {
      std::snprintf(buf, sizeof buf, "%02d", f.hour);
      afterHour = true;
      i += 2;
    } else if (is("mm")) {
      // "mm" after "hh" is minutes; otherwise the month.
      std::snprintf(buf, sizeof buf, "%02d", afterHour ? f.minute : f.month);
      i += 2;
    } else if (is("ss")) {
      std::snprintf(buf, sizeof buf, "%02d", f.second);
      i += 2;
    } else {
      buf[0] = patron[i++];
      buf[1] = '\0';
    }
    out += buf;
  }
  return out;
}

std::string ExtraeServidor(const std::string& texto) {
  std::string r = texto;
  if (auto slash = r.find('/'); slash != std::string::npos) r = r.substr(slash + 1);
  if (auto colon = r.find(':'); colon != std::string::npos) r = r.substr(0, colon);
  return r;
}

double ValNumero(const std::string& texto) {
  std::string t;
  for (char c : texto)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') t += c;
  size_t i = 0;
  std::string num;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) num += t[i++];
  bool digits = false, point = false;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') {
      num += t[i];
      digits = true;
    } else if (t[i] == '.' && !point) {
      num += '.';
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    std::string exp = "e";
    if (j < t.size() && (t[j] == '-' || t[j] == '+')) exp += t[j++];
    size_t start = j;
    while (j < t.size() && t[j] >= '0' && t[j] <= '9') exp += t[j++];
    if (j > start) num += exp;
  }
  return ReadNumber(num);
}

int16_t CInt(double v) {
  const double r = std::nearbyint(v);
  if (!(r >= -32768.0 && r <= 32767.0)) throw RaisedError(errnum::kOverflow, "Overflow");
  return static_cast<int16_t>(r);
}

int32_t CLng(double v) {
  const double r = std::nearbyint(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw RaisedError(errnum::kOverflow, "Overflow");
  return static_cast<int32_t>(r);
}

namespace {

// A date as the regional settings write it (dd/mm/yyyy or dd/mm/yy, optional time), or ISO.
std::optional<DateTime> ParseFechaRegional(const std::string& texto) {
  std::string t = text::TrimCopy(texto);
  if (auto iso = DateTime::ParseIso(t)) return iso;
  int d = 0, m = 0, y = 0, hh = 0, mi = 0, ss = 0;
  int n = std::sscanf(t.c_str(), "%d/%d/%d %d:%d:%d", &d, &m, &y, &hh, &mi, &ss);
  if (n < 3 || d < 1 || d > 31 || m < 1 || m > 12 || y < 0) return std::nullopt;
  if (y < 100) y += y < 30 ? 2000 : 1900;
  DateTime f;
  f.year = y;
  f.month = m;
  f.day = d;
  f.hour = n >= 4 ? hh : 0;
  f.minute = n >= 5 ? mi : 0;
  f.second = n >= 6 ? ss : 0;
  f.millisecond = 0;
  return f;
}

}  // namespace

DateTime FechaServidor() {
  DateTime resultado = DateTime::Now();
  resultado.millisecond = 0;
  ClsDatos& datos = *SesionSistema.Datos;
  ado::RecordsetPtr rs;
  bool hayFila = false;
  Pasos p(SaltarSiempre);
  p.Paso([&] { datos.AbrirRecordset("select  getDate() as fecha", rs, nullptr, 0, 1, -1, true); });
  p.Paso([&] {
    if (rs && !rs->EOF_()) {
      hayFila = true;
      auto valor = rs->Fields("fecha").Value();
      if (auto f = valor.ToDate()) {
        // Written "dd/mm/yyyy hh:mm:ss" and read back: the server's time to the whole second.
        if (auto back = ParseFechaRegional(Formatear(*f, "dd/mm/yyyy hh:mm:ss"))) resultado = *back;
      }
    }
  });
  p.Paso([&] {
    if (hayFila || !ConfigSistema.UTILIZARFECHADIA) return;
    std::string aux;
    if (auto f = ParseFechaRegional(Cfg("FECHAOPERHASTA", aux))) resultado = *f;
  });
  p.Paso([&] {
    if (rs) datos.CerrarRecordset(rs);
  });
  p.Ejecutar();
  return resultado;
}

namespace {
bool EsDigito(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string NombreSQL(const std::string& nombre) { return sqltext::Name(nombre); }

bool EsLiteralNumerico(const std::string& texto) {
  size_t i = 0;
  const size_t n = texto.size();
  auto digitos = [&] {
    const size_t desde = i;
    while (i < n && EsDigito(texto[i])) ++i;
    return i - desde;
  };
  if (i < n && (texto[i] == '-' || texto[i] == '+')) ++i;
  size_t cifras = digitos();
  if (i < n && texto[i] == '.') {
    ++i;
    cifras += digitos();
  }
  if (cifras == 0) return false;
  if (i < n && (texto[i] == 'e' || texto[i] == 'E')) {
    ++i;
    if (i < n && (texto[i] == '-' || texto[i] == '+')) ++i;
    if (digitos() == 0) return false;
  }
  return i == n;
}

std::string LiteralTexto(const std::string& texto) { return sqltext::Literal(texto); }

}  // namespace etapas
