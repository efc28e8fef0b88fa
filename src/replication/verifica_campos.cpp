// The columns a table has in a given database, read from that database's catalogue: an
// INSERT names the receiving table's columns, not the home table's.
#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/text.h"
#include "replication/desenlace.h"
#include "replication/mod_grupos_emp.h"

namespace etapas {

std::string VerificaCampos(const std::string& Tabla, ClsDatos& sesion, const std::string& Excluye1,
                           const std::string& Excluye2, const std::string& Excluye3, const std::string& Excluye4,
                           bool ConCorchetes, std::string& TiposCampos, const std::string& Excluye5) {
  std::string lista, tipos;
  bool completa = false;  // a list is handed back only after the whole walk, never in part
  ado::RecordsetPtr rs;
  const std::string* excluidas[] = {&Excluye1, &Excluye2, &Excluye3, &Excluye4, &Excluye5};
  auto excluida = [&](const std::string& nombre) {
    for (const std::string* e : excluidas)
      if (text::EqualsNoCase(nombre, *e)) return true;
    return false;
  };
  auto abierto = [&]() -> ado::Recordset& {
    if (!rs) throw ObjectNotSet();
    return *rs;
  };

  Pasos p([](const RaisedError& e) {
    const int respuesta = ReportaError(e, std::nullopt, "VerificaCampos");
    if (respuesta != kReintentar) replicacion::AnotarFallo(e.Description());
    return respuesta;
  });
  p.Paso([&] { TiposCampos.clear(); });
  p.Paso([&] {
    ado::ConnectionPtr conexion = sesion.Conexion();
    if (!conexion) throw ObjectNotSet();
    // Any owner: the catalogue and the table restrict, the schema does not.
    rs = conexion->OpenSchema(ado::kSchemaColumns, {Variant(sesion.BaseDatos()), Variant(), Variant(Tabla), Variant()});
  });
  // One column of the catalogue a turn. Going on past a schema that could not be read
  // leaves nothing to walk; a failed move ignored ends the walk.
  Pasos::Lista columna;
  bool movida = true;
  p.Mientras([&] { return movida && rs && !rs->EOF_(); }, columna);
  columna.Paso([&] {
    ado::Recordset& r = abierto();
    const std::string nombre = ClsUtil::ValorCampo(r.Fields("COLUMN_NAME")).ToText();
    if (excluida(nombre)) return;
    // The catalogue is the target's: its names reach the statements only as names.
    if (ConCorchetes)
      lista += (lista.empty() ? "[" : ",[") + text::ReplaceAll(nombre, "]", "]]") + "]";
    else
      lista += (text::Trim(lista).empty() ? "" : ",") + NombreSQL(nombre);
    const std::string tipo = ClsUtil::ValorCampo(r.Fields("DATA_TYPE")).ToText();
    tipos += (tipos.empty() ? "" : ",") + tipo;
  });
  columna.Paso([&] {
    movida = false;
    abierto().MoveNext();
    movida = true;
  });
  completa = p.Ejecutar();
  if (rs && rs->IsOpen()) rs->Close();
  TiposCampos = completa ? tipos : std::string();
  return completa ? lista : std::string();
}

}  // namespace etapas
