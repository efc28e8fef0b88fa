#include "editor/ast.h"

#include <cstdlib>

#include "common/mod_global.h"
#include "components/variant.h"

namespace etapas::ast {

int16_t DigCapitulo = 0, DigSubCapitulo = 0, DigRubro = 0, DigSubRubro = 0, DigCuenta = 0, DigSubCuenta = 0,
        DigTotal = 0;
int16_t PosCapitulo = 0, PosSubCapitulo = 0, PosRubro = 0, PosSubRubro = 0, PosCuenta = 0, PosSubCuenta = 0,
        LargoCodigoCuenta = 0;

void Reiniciar() {
  DigCapitulo = DigSubCapitulo = DigRubro = DigSubRubro = DigCuenta = DigSubCuenta = DigTotal = 0;
  PosCapitulo = PosSubCapitulo = PosRubro = PosSubRubro = PosCuenta = PosSubCuenta = LargoCodigoCuenta = 0;
}

double NumeroInicial(const std::string& texto) {
  size_t i = 0;
  while (i < texto.size() && (texto[i] == ' ' || texto[i] == '\t')) ++i;
  std::string num;
  if (i < texto.size() && (texto[i] == '-' || texto[i] == '+')) num += texto[i++];
  bool digits = false, point = false;
  for (; i < texto.size(); ++i) {
    const char c = texto[i];
    if (c >= '0' && c <= '9') {
      num += c;
      digits = true;
    } else if (c == '.' && !point) {
      num += c;
      point = true;
    } else {
      break;
    }
  }
  return digits ? ReadNumber(num) : 0;
}

namespace {
double Setting(const char* clave) {
  std::string aux;
  return NumeroInicial(Cfg(clave, aux));
}
}  // namespace

void LeerDigitosCuenta() {
  DigCapitulo = CInt(Setting("Digitos_Capitulo"));
  DigSubCapitulo = CInt(Setting("Digitos_SubCapitulo"));
  DigRubro = CInt(Setting("Digitos_Rubro"));
  DigSubRubro = CInt(Setting("Digitos_SubRubro"));
  DigCuenta = CInt(Setting("Digitos_Cuenta"));
  DigSubCuenta = CInt(Setting("Digitos_SubCuenta"));
  // 16-bit arithmetic: a sum out of range is a failure.
  DigTotal =
      CInt(static_cast<double>(DigCapitulo) + DigSubCapitulo + DigRubro + DigSubRubro + DigCuenta + DigSubCuenta);
}

void LeerPosicionesCuenta() {
  PosCapitulo = CInt(Setting("DIGITOS_CAPITULO"));
  PosSubCapitulo = CInt(Setting("DIGITOS_SUBCAPITULO") + PosCapitulo);
  PosRubro = CInt(Setting("DIGITOS_RUBRO") + PosSubCapitulo);
  PosSubRubro = CInt(Setting("DIGITOS_SUBRUBRO") + PosRubro);
  PosCuenta = CInt(Setting("DIGITOS_CUENTA") + PosSubRubro);
  PosSubCuenta = CInt(Setting("DIGITOS_SUBCUENTA") + PosCuenta);
  LargoCodigoCuenta = PosSubCuenta;
}

}  // namespace etapas::ast
