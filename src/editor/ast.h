#pragma once
// The suite's chart-of-accounts digit settings, loaded for the suite's shared code.
#include <cstdint>
#include <string>

namespace etapas::ast {

extern int16_t DigCapitulo, DigSubCapitulo, DigRubro, DigSubRubro, DigCuenta, DigSubCuenta, DigTotal;
extern int16_t PosCapitulo, PosSubCapitulo, PosRubro, PosSubRubro, PosCuenta, PosSubCuenta, LargoCodigoCuenta;

void LeerDigitosCuenta();
void LeerPosicionesCuenta();
void Reiniciar();

// The leading decimal number of a setting (leading blanks skipped), 0 when there is none.
double NumeroInicial(const std::string& texto);

}  // namespace etapas::ast
