#pragma once
// Which kind of master data a replicated table belongs to, and which exclusion column of
// V_TA_TPV keeps a point of sale from receiving that kind. Shared by everything that
// decides whether a point of sale is owed a table's changes.
#include <string>
#include <string_view>

#include "components/ado.h"
#include "components/text.h"

namespace etapas::replicacion {

enum class Familia { Ninguna, Articulos, Precios, Cuentas, Tablas, Configuracion };

struct TablaDeFamilia {
  std::string_view tabla;
  Familia familia;
};
inline constexpr TablaDeFamilia kFamilias[] = {
    {"V_MA_ARTICULOS", Familia::Articulos},
    {"V_MA_INSUMOS", Familia::Articulos},
    {"S_TA_EQUIV", Familia::Articulos},
    {"V_MA_ARTCATREL", Familia::Articulos},
    {"V_MA_PRECIOS", Familia::Precios},
    {"V_MA_PRECIOSCAB", Familia::Precios},
    {"V_MA_Precios_Borrador", Familia::Precios},
    {"MA_CUENTAS", Familia::Cuentas},
    {"VT_CLIENTES", Familia::Cuentas},
    {"VT_PROVEEDORES", Familia::Cuentas},
    {"MA_CUENTASADIC", Familia::Cuentas},
    {"MA_CLAVEPIN", Familia::Cuentas},
    {"MA_CUENTAS_AUTOCPTES", Familia::Cuentas},
    {"TA_CCOSTO", Familia::Tablas},
    {"TA_CONDIVA", Familia::Tablas},
    {"TA_CUENTASIVA", Familia::Tablas},
    {"TA_ESTADOS", Familia::Tablas},
    {"TA_MONEDAS", Familia::Tablas},
    {"TA_PAISES", Familia::Tablas},
    {"TA_TAREAS", Familia::Tablas},
    {"TA_TIPODOCUMENTO", Familia::Tablas},
    {"TA_TIPOVEHICULO", Familia::Tablas},
    {"TA_USUARIOS", Familia::Tablas},
    {"V_TA_BANCOS", Familia::Tablas},
    {"V_TA_CAJAS", Familia::Tablas},
    {"V_TA_CATEGORIA", Familia::Tablas},
    {"V_TA_COLORES", Familia::Tablas},
    {"V_TA_CPRA_VTA", Familia::Tablas},
    {"V_TA_CPRA_VTADIAS", Familia::Tablas},
    {"V_TA_DEPOSITO", Familia::Tablas},
    {"V_TA_FAMILIAS", Familia::Tablas},
    {"V_TA_INPUT_COMPRAS", Familia::Tablas},
    {"V_TA_INPUT_VENTAS", Familia::Tablas},
    {"V_TA_MOTIVOCPRA", Familia::Tablas},
    {"V_TA_MOTIVOVTA", Familia::Tablas},
    {"V_TA_MOTIVOSTOCK", Familia::Tablas},
    {"V_TA_PERCEPCION", Familia::Tablas},
    {"V_TA_ORIGEN", Familia::Tablas},
    {"V_TA_RUBROS", Familia::Tablas},
    {"V_TA_ETAPAS", Familia::Tablas},
    {"V_TA_TAREAS", Familia::Tablas},
    {"V_TA_TECNICOS", Familia::Tablas},
    {"V_TA_UNIDAD", Familia::Tablas},
    {"V_TA_UNIDADNEGOCIO", Familia::Tablas},
    {"V_TA_VENDEDORES", Familia::Tablas},
    {"TA_CONFIGURACION", Familia::Configuracion},
};

struct Exclusion {
  Familia familia;
  const char* columna;
};
inline constexpr Exclusion kExclusiones[] = {
    {Familia::Articulos, "OL_ExceptoArticulos"},
    {Familia::Precios, "OL_ExceptoPrecios"},
    {Familia::Cuentas, "OL_ExceptoCuentas"},
    {Familia::Tablas, "OL_ExceptoTablas"},
};

inline Familia FamiliaDe(const std::string& tabla) {
  for (const auto& f : kFamilias)
    if (text::EqualsNoCase(tabla, f.tabla)) return f.familia;
  return Familia::Ninguna;
}

// Whether the point of sale's row keeps it from receiving the family (Null: it does not).
inline bool Excluido(ado::Recordset& punto, Familia familia) {
  for (const auto& e : kExclusiones)
    if (e.familia == familia) return punto.Fields(e.columna).Value().ToBool().value_or(false);
  return false;
}

// A table of no family never goes to a point of sale; otherwise the point's exclusion
// column for the family decides.
inline bool RecibeTabla(ado::Recordset& punto, const std::string& tabla) {
  const Familia familia = FamiliaDe(tabla);
  return familia != Familia::Ninguna && !Excluido(punto, familia);
}

}  // namespace etapas::replicacion
