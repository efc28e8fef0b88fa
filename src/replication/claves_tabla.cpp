// The key columns of every master table the suite replicates, as data: groups of rules
// tried in order, the first matching rule deciding.
#include <span>
#include <string_view>

#include "components/text.h"
#include "replication/mod_grupos_emp.h"

namespace etapas {
namespace {

constexpr int kSinDerivar = -1;

// A rule matches a whole table name or the name's first characters. Its keys are, in
// order, the derived key (when derivaDesde is set: "ID" and the caller's name from that
// position, less one final S when quitaS) and then the fixed ones. A matching rule with
// no keys still decides: the table has none.
struct Regla {
  std::string_view patron;
  bool prefijo = false;
  int derivaDesde = kSinDerivar;
  bool quitaS = false;
  std::array<std::string_view, 8> claves{};
};

constexpr Regla Tabla(std::string_view nombre, std::array<std::string_view, 8> claves) {
  return {nombre, false, kSinDerivar, false, claves};
}
constexpr Regla Inicio(std::string_view inicio, std::array<std::string_view, 8> claves) {
  return {inicio, true, kSinDerivar, false, claves};
}
// The suffix rule: "ID" and the part after the family prefix, less one final S.
constexpr Regla Sufijo(std::string_view nombre, int desde, std::array<std::string_view, 8> siguientes = {}) {
  return {nombre, false, desde, true, siguientes};
}
// The same without removing the S.
constexpr Regla SufijoEntero(std::string_view nombre, int desde) { return {nombre, false, desde, false, {}}; }

constexpr int kTrasVTA = 5;  // "V_TA_"
constexpr int kTrasPTA = 5;  // "P_TA_", "P_MA_"
constexpr int kTrasTA = 3;   // "TA_"
constexpr int kTrasVMA = 5;  // "V_MA_"
constexpr int kTrasMA = 3;   // "MA_"

constexpr Regla kGrupo1[] = {
    Tabla("V_TA_CategoriaArticulo", {"IdCategoria"}),
    Tabla("s_ta_equiv", {"IDARTICULO", "IDUNIDAD", "IDUNIDAD_EQUIV"}),
    Tabla("V_MA_ARTCATREL", {"IDARTICULO", "IDCATEGORIA"}),
    Tabla("V_TA_INTERODBC", {"Proveedor"}),
    Tabla("AC_VENTASDIARIA", {"UNEGOCIO", "FECHA", "IDARTICULO"}),
    Tabla("AC_VENTASMES", {"UNEGOCIO", "FECHA", "IDARTICULO"}),
    Tabla("ta_cai", {"cuenta", "cai", "vencimiento", "tc", "Sucursal", "Letra"}),
    Tabla("V_TA_Cpte", {"CODIGO", "TALONARIO"}),
    Tabla("V_TA_PERCEPCION", {"IDPERCEPCION"}),
    Tabla("V_TA_RETENCIONES", {"IDRETENCION"}),
    Tabla("V_ta_PoliticaPrecios", {"codigo"}),
    Tabla("V_TA_TarifaFlete", {"IdTarifaFlete"}),
    Tabla("V_TA_UnidadNegocio", {"Codigo"}),
    Tabla("V_TA_FAMILIAS", {"IdFamilia"}),
    Tabla("V_TA_FAMILIAS_USUARIOS", {"GrupoUser", "IdFamilia"}),
    Tabla("V_TA_ETAPAS", {"CODIGOESTADO"}),
};

constexpr Regla kGrupo2[] = {
    SufijoEntero("V_TA_Cajas", kTrasVTA),   Sufijo("V_TA_Bancos", kTrasVTA),
    Sufijo("V_TA_MotivoVta", kTrasVTA),     Sufijo("V_TA_MotivoCpra", kTrasVTA),
    Sufijo("V_TA_Deposito", kTrasVTA),      Sufijo("V_TA_Tecnicos", kTrasVTA),
    Sufijo("V_TA_Tareas", kTrasVTA),        Sufijo("V_TA_Unidad", kTrasVTA),
    Tabla("V_TA_TipoArticulo", {"IDTIPO"}), Sufijo("V_TA_Rubros", kTrasVTA),
    Sufijo("V_TA_MotivoStock", kTrasVTA),   Tabla("V_TA_CPRA_VTA", {"IDCOND_CPRA_VTA"}),
    Sufijo("V_TA_CATEGORIA", kTrasVTA),     Sufijo("V_TA_DESTINO", kTrasVTA),
    Sufijo("V_TA_ORIGEN", kTrasVTA),
};

constexpr Regla kGrupo3[] = {
    Sufijo("P_TA_NIVELESTUDIO", kTrasPTA),     Sufijo("P_TA_CONOCIMIENTOS", kTrasPTA),
    Sufijo("P_TA_Categorizacion", kTrasPTA),   Sufijo("P_TA_CentroMedico", kTrasPTA),
    Sufijo("P_TA_FormasDePago", kTrasPTA),     Sufijo("P_MA_Empresas", kTrasPTA),
    Sufijo("P_TA_ZONARESIDENCIA", kTrasPTA),   Sufijo("P_TA_ObraSocial", kTrasPTA),
    Sufijo("P_TA_MotivoEgreso", kTrasPTA),     Sufijo("P_TA_Grupos", kTrasPTA),
    Sufijo("P_TA_EstadoBusqueda", kTrasPTA),   SufijoEntero("P_TA_Areas", kTrasPTA),
    Sufijo("P_TA_IDIOMAS", kTrasPTA),          Sufijo("P_TA_TITULOs", kTrasPTA),
    Sufijo("P_TA_ESTADOPOSTULANTE", kTrasPTA), Sufijo("P_TA_Parentesco", kTrasPTA),
    Sufijo("P_TA_EstadoCivil", kTrasPTA),
};

constexpr Regla kGrupo4[] = {
    Tabla("P_SINDICATOS", {"IdSindicato"}),
    SufijoEntero("P_TA_Funciones", kTrasPTA),
};

constexpr Regla kGrupo5[] = {
    Sufijo("TA_Categoria", kTrasTA),      Sufijo("TA_Deposito", kTrasTA), Sufijo("TA_MotivoStock", kTrasTA),
    Tabla("TA_TipoArticulo", {"IDTIPO"}), Sufijo("TA_Rubros", kTrasTA),
};

constexpr Regla kGrupo6[] = {
    Tabla("P_MA_Clientes", {"IDCLIENTE"}),
    Tabla("TA_Cpte", {"CODIGO", "DESCRIPCION"}),
    Sufijo("V_MA_ARTICULOS", kTrasVMA),
    Sufijo("MA_ARTICULOS", kTrasMA, {"DESCRIPCION"}),
    Tabla("MA_MODELOS", {"TIPO_REG", "NOMBRE", "SECUENCIA"}),
    Tabla("MA_CHOFERES", {"CODIGO", "NOMBRES"}),
    Tabla("MA_DESTINATARIOS", {"CODIGO", "NOMBRE"}),
    Tabla("MA_VEHICULOS", {"PATENTE", "MODELO"}),
    Tabla("MA_CONTACTOS", {"NOMBRE_Y_APELLIDO"}),
    Tabla("MV_EJERCICIOS", {"PERIODO"}),
    Tabla("TA_USUARIOS", {"NOMBRE", "GRUPO"}),
    Tabla("MV_APLICACION",
          {"CUENTA", "TC", "SUCURSAL", "NUMERO", "LETRA", "TCO_ORIGEN", "IDCOMPROBANTE_ORIGEN", "IDCOMPROBANTE_PRINT"}),
    Tabla("MV_ASIENTOS",
          {"CUENTA", "SECUENCIA", "TC", "SUCURSAL", "NUMERO", "LETRA", "[NUMERO ASIENTO]", "MES_OPERATIVO"}),
    Tabla("MV_ASIENTOSCCOSTO",
          {"PERIODO", "MES_OPERATIVO", "[NUMERO ASIENTO]", "CUENTA", "SECUENCIA", "CCOSTO", "TIPO_REG"}),
    Tabla("MA_CUENTASCCOSTO", {"CODIGO", "CCOSTO"}),
    Tabla("MA_CUENTASCCOSTO_UNEG", {"CODIGO", "CCOSTO", "UNEGOCIO"}),
    Tabla("MA_CUENTAS_CCDIST", {"ID"}),
    Tabla("TA_REPORTES", {"NOMBRE"}),
};

// Every "TA_" table: CODIGO, unless a row names it.
constexpr Regla kGrupo7[] = {
    Tabla("ta_configuracion", {"Clave"}),
    Tabla("ta_cotizacion", {"FECHA_HORA"}),
    Tabla("ta_config_form", {"Formulario", "Usuario", "TipoObjeto", "Nombre"}),
    Tabla("TA_CONFIG_IMP_CPTE", {"tc", "letra", "usuario"}),
    Tabla("TA_LOGOS", {"IDLOGO"}),
    Tabla("ta_cuentasiva", {"CFI_IVARI"}),
    Tabla("ta_menu", {"Menu", "Clave"}),
    Tabla("TA_RANGOS_DATOS_ADIC", {"DESCRIPCION"}),
    Tabla("TA_TAREAS", {"USUARIO", "SISTEMA", "TAREA"}),
    Tabla("TA_VISTAS", {"Nombre", "Campo", "TipoVista"}),
    Tabla("TA_MONEDAS_BILLETE", {"CUENTA", "DENOMINACION"}),
    Inicio("TA_", {"CODIGO"}),
};

// Every "MA_" table: its first six characters, or its name, else Codigo.
constexpr Regla kGrupo8[] = {
    Inicio("MA_PRO", {"Codigo", "Razon_Social"}),
    Inicio("MA_VEN", {"Codigo", "Razon_Social"}),
    Inicio("MA_TRA", {"Codigo", "Razon_Social"}),
    Inicio("MA_AGE", {"Codigo", "Razon_Social"}),
    Inicio("MA_CLI", {"Codigo", "Codigo_sucursal"}),
    Inicio("Ma_con", {"id"}),
    Tabla("MA_CUENTAS_USUARIOS", {"GrupoUser", "Cuenta"}),
    Tabla("MA_CUENTAS", {"codigo"}),
    Tabla("MA_CUENTASSUC", {"CODIGO", "SUCURSAL"}),
    Tabla("MA_CUENTAS_AUTOCPTES", {"CUENTA", "SUCURSALCUENTA"}),
    Tabla("MA_CUENTAS_SALDOS", {"CUENTA", "IDVENDEDOR"}),
    Inicio("ma_cue", {"CODIGO"}),
    Inicio("ma_est", {"ID"}),
    Tabla("MA_ClavePIN", {"CUENTA", "MOTIVO", "FECHASOLICITUD"}),
    Tabla("MA_SUBDIARIOSCOMPROBANTES", {"SUBDIARIO", "TC"}),
    Tabla("MA_CALENDARIO", {"FECHA"}),
    Tabla("MA_CASH_CONTROL", {"ID"}),
    Tabla("MA_CASH-DETALLE", {"ID"}),
    Tabla("MA_CASH_PROYECTADO", {"ID"}),
    Tabla("MA_CASH_CTAS_PRINCIPALES", {"ID"}),
    Tabla("MA_CASH-GRUPO", {"CODIGO_CASH"}),
    Inicio("MA_", {"Codigo"}),
};

constexpr Regla kGrupo9[] = {
    Inicio("[MA_CA", {"Codigo", "nombre"}),
    Inicio("[MA", {}),
};

constexpr Regla kGrupo10[] = {
    Inicio("MV_PRO", {"ID", "ASUNTO"}),
    Inicio("MV_AGE", {"ID"}),
    Inicio("MV_", {}),
};

constexpr Regla kGrupo11[] = {
    Tabla("v_ta_input_compras", {"IdMotivoCpra", "CondIva"}),
    Tabla("v_ta_input_ventas", {"IdMotivoVta", "CondIva"}),
    Tabla("v_ta_colores", {"Color"}),
    Tabla("v_ta_ctrl_chequeras", {"idbanco", "Serie", "Talonario"}),
    Tabla("v_ta_cuentascomision", {"id"}),
    Tabla("v_ta_interfaces", {"nombre"}),
    Tabla("V_TA_Interfaces_Detalle", {"INTERFACE", "NOMBRE_CAMPO"}),
    Tabla("V_TA_Interfaces_asignacionCampos", {"INTERFACE", "CAMPO_ORIGEN", "CAMPO_TABLA", "TABLA_ORIGEN", "CAMPO"}),
    Tabla("V_TA_Interfaces_EquiSueldo", {"TIPO", "SECUENCIA"}),
    Tabla("V_TA_Interfaces_Equivalencia", {"INTERFACE", "CAMPO_ORIGEN", "CAMPO"}),
    Tabla("V_TA_INTERFACES_FILTROS", {"NOMBRE_INTERFACE", "CAMPO"}),
    Tabla("v_ta_vendedores", {"idvendedor"}),
    Tabla("v_ta_vendedorescm", {"idvendedor"}),
    Tabla("P_MA_FAMILIAR", {"IDEMPRESA", "LEGAJO", "APELLIDO", "NOMBRE"}),
    Tabla("P_MA_LEGAJOS", {"IDEMPRESA", "LEGAJO"}),
    Tabla("V_MA_INSUMOS", {"IDARTICULO", "IDARTICULOINSUMO"}),
    Tabla("V_MA_PRECIOS", {"IDLISTA", "TipoLista", "IDARTICULO"}),
    Tabla("V_MA_PRECIOSCAB", {"IDLISTA", "TIPOLISTA"}),
    Tabla("V_MV_STATUS", {"TC", "IDCOMPROBANTE", "IDTAREA", "FECHAHORA"}),
    Tabla("V_MV_CPTE", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO"}),
    Tabla("V_MV_CPTE_ELECTRONICOS", {"TC", "IDCOMPROBANTE", "IDREQUERIMIENTO"}),
    Tabla("V_MV_CPTE_OBSERV", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "SECUENCIA"}),
    Tabla("V_MV_CPTEACCIONES", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "TIPO_ACCION", "FECHAHORA", "SYSTEMUSER"}),
    Tabla("V_MV_CPTEDOC", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "DOCUMENTO"}),
    Tabla("V_MV_CPTEENCOMISION", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "CUENTA", "IMPORTE"}),
    Tabla("V_MV_CPTEINSUMOS", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "IDARTICULO", "SECUENCIA"}),
    Tabla("V_MV_CPTETAREAS", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "IDTAREA", "SECUENCIA"}),
    Tabla("V_MV_CPTETERCEROS", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "CUENTA", "DETALLE"}),
    Tabla("C_MV_CPTE", {"TC", "IDCOMPROBANTE", "CUENTA"}),
    Tabla("C_MV_CPTE_OBSERV", {"TC", "IDCOMPROBANTE", "CUENTA", "TIPO_OBS"}),
    Tabla("C_MV_CPTEINSUMOS", {"TC", "IDCOMPROBANTE", "CUENTA", "IDARTICULO", "CANTIDAD"}),
    Tabla("C_MV_CPTETAREAS", {"TC", "IDCOMPROBANTE", "CUENTA", "IDTAREA", "HORAS"}),
    Tabla("P_MV_CTROLHORARIOS", {"IDEMPRESA", "LEGAJO", "FECHAOPERATIVA"}),
    Tabla("P_MV_LIQUIDACIONES", {"EMPRESA", "NRO_LiQ", "LEGAJO", "PRIORIDAD", "CONCEPTO"}),
    Tabla("P_MV_LIQUIDACIONESCAB", {"EMPRESA", "NRO_LiQ", "LEGAJO"}),
    Tabla("V_MV_COMANDA", {"COMANDA", "IDCOMPROBANTE", "IDCOMPROBANTEG"}),
    Tabla("V_MV_PRECIOSHIS", {"FECHAHORA", "IDARTICULO", "USUARIO"}),
    Tabla("V_MV_STOCK", {"TC", "IDCOMPROBANTE", "IDCOMPLEMENTO", "SECUENCIA", "IDARTICULO"}),
};

// The order matters: explicit rows come before the prefix rules that would catch them.
constexpr std::span<const Regla> kGrupos[] = {kGrupo1, kGrupo2, kGrupo3, kGrupo4,  kGrupo5, kGrupo6,
                                              kGrupo7, kGrupo8, kGrupo9, kGrupo10, kGrupo11};

bool Coincide(const Regla& r, std::string_view nombre) {
  return r.prefijo ? text::StartsWithNoCase(nombre, r.patron) : text::EqualsNoCase(nombre, r.patron);
}

// "ID" and the name from `desde` on, in the caller's letter case.
std::string ClaveDerivada(std::string_view nombre, size_t desde, bool quitaS) {
  std::string parte(desde < nombre.size() ? nombre.substr(desde) : std::string_view());
  if (quitaS && !parte.empty() && (parte.back() == 'S' || parte.back() == 's')) parte.pop_back();
  return "ID" + parte;
}

}  // namespace

ClavesDeTabla ClavesTabla(const std::string& Tabla) {
  const std::string nombre = text::RemoveAllNoCase(Tabla, "@ADMIN_");
  ClavesDeTabla claves;
  for (const auto& grupo : kGrupos) {
    for (const Regla& r : grupo) {
      if (!Coincide(r, nombre)) continue;
      size_t n = 0;
      if (r.derivaDesde != kSinDerivar)
        claves[n++] = ClaveDerivada(nombre, static_cast<size_t>(r.derivaDesde), r.quitaS);
      for (std::string_view c : r.claves) {
        if (c.empty() || n == claves.size()) break;
        claves[n++] = std::string(c);
      }
      return claves;
    }
  }
  return claves;
}

}  // namespace etapas
