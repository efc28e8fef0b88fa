#pragma once
// The shared module: the session record and settings, error reporting and logs, the
// configuration store, value helpers, the lookup-definitions file, script execution and
// the SQL builders.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/cls_datos.h"
#include "components/error.h"
#include "components/variant.h"

namespace etapas {

struct TSesionSistema {
  std::unique_ptr<ClsDatos> Datos = std::make_unique<ClsDatos>();
  std::unique_ptr<ClsDatos> DatosEstadistica = std::make_unique<ClsDatos>();
  std::unique_ptr<ClsDatos> DatosRemotos = std::make_unique<ClsDatos>();  // reachability test, remote statistics
  std::unique_ptr<ClsDatos> DatosDestino = std::make_unique<ClsDatos>();  // the replication target
  std::string EquipoUsuario;
  Variant BarrasPlanas;  // Empty until start-up reads it
  std::string ParametroAdicional;
  std::string Menu;
  std::string UsuarioLogeado;
  std::string Caja;
  std::string CadenaDSN;
  int16_t TiempoEspera = 0;
  int16_t Estilo = 0;
};

struct TConfigSistema {
  bool MostrarStockenConsultas = false;
  std::string TituloClientes, TituloProveedores, ArchivoDocTareas;
  bool EXIGECLAVECONSULTALIKEARTICULOS = false, UsaConsultaLike = false;
  std::string CantidadDecimales;
  bool SS_CONFIDENCIALIDAD = false, UsaMultilesMonedas = false, UsaFacturaProforma = false, USACCOSTO = false,
       USA_STK_STOCK_UDKG = false;
  std::string UNegocio;
  std::string UNIDADDEMEDIDA_M3, UNIDADDEMEDIDA_BL, UNIDADDEMEDIDA_KG;
  int16_t PERIODO = 0;
  bool RazonSocialPorUneg = false, VALIDACODIGOBARRA = false;
  int32_t CFondo = 0, CLetra = 0;
  bool ModuloOrdenDeTrabajo = false, V_ModificaCPrecio = false, C_ModificaCPrecio = false, MADERERA = false;
  std::string MAD_TIRAS, MAD_P2, MAD_ML, MAD_M2, MAD_HOJAS, MAD_ML_P2, MAD_M2_P2, MAD_ML_M2, CuentaCtroDist;
  int64_t MaxDto = 0, MaxDtoProforma = 0;  // fixed point, four decimals (value * 10000)
  bool PideClave_StockNeg = false, PideClave_MarkUpBase = false, PideClave_LimiteCredito = false;
  bool SS_BloqueoActivo = false, UTILIZARFECHADIA = false, AsignacionAutomaticaDeLoteING = false,
       AsignacionAutomaticaDeLoteINGOP = false;
  int16_t CONDIVAEMPRESA = 0;
  std::string Top_Default;
};

struct CampoValor {
  std::string Campo;
  std::string Valor;
};
using TListaCampos = std::vector<CampoValor>;
using TListaSentencias = std::vector<std::string>;

// The process's shared state.
extern TSesionSistema SesionSistema;
// The replication target's session and the reachability test's of the calling thread: a
// worker serving one target of a walk has its own, the operator's thread has the module's.
ClsDatos& SesionDestino();
ClsDatos& SesionRemotos();
extern TConfigSistema ConfigSistema;
extern std::string TablaConfiguracion;
extern TListaCampos ListaCampos;
extern TListaSentencias ListaSentencias;

// Back to the state of a new process (tests run many starts in one process).
void ReiniciarEstadoGlobal();

// ---- Error reporting and logs ---------------------------------------------------------

// Shows the failure (Abort/Retry/Ignore with the critical icon unless botones says
// otherwise), appends a line to CVERR.LOG and returns the answer; 0 and nothing shown
// for error number 0.
int ReportaError(const RaisedError& error, std::optional<int> botones = std::nullopt, const std::string& rutina = "");
// The folder of CVERR.LOG: TEMP, else TMP, else ClsEntorno::CarpetaSistema, with a final "/".
std::string CarpetaLog();
// Records a failed data change in AUX_ERR; an empty proceso becomes the executable's name.
void GrabaErrorAux(const std::string& sql, std::string& proceso, long numero, const std::string& descripcion);

// ---- Configuration store --------------------------------------------------------------

std::string Cfg(const std::string& clave, std::string& valorAux);
std::string CfgCV(const std::string& clave, std::string& valorAux);
void GrabaCfgCV(const std::string& clave, const Variant& valor, const std::string& valorAux, bool politicaNegocio,
                const std::string& grupo, bool recortaValor);
void CargaConfiguracion(const std::string& carpetaPrograma);
// The programs whose decimals setting is "CantidadDecimalesVentas".
bool EsProgramaDeVentas(const std::string& ejecutable);

// ---- Value helpers --------------------------------------------------------------------

bool ValorBooleano(const std::string& texto, bool defecto);
std::string FormatoFechaHora();
std::string FormatoFecha();
std::string FormatoHora();
// A date-time written with one of the patterns above.
std::string Formatear(const DateTime& fecha, const std::string& patron);
std::string ExtraeServidor(const std::string& texto);
// A name read from a catalogue as it may stand in a statement: a plain name (letters,
// digits, underscore) as it is, anything else delimited as [name] with "]" doubled, so a
// name can never end the identifier and become SQL.
std::string NombreSQL(const std::string& nombre);
// Whether a value text may be written without quotes: an optionally signed decimal
// number, with an optional fraction and exponent.
bool EsLiteralNumerico(const std::string& texto);
// A text between single quotes with each quote doubled.
std::string LiteralTexto(const std::string& texto);
DateTime FechaServidor();
// The leading number of a text after removing blanks, tabs and line feeds (0 when none).
double ValNumero(const std::string& texto);
// Rounds half to even into 16 or 32 bits; raises overflow (6) outside the range.
int16_t CInt(double v);
int32_t CLng(double v);

// ---- Lookup-definitions file ----------------------------------------------------------

inline constexpr size_t kLargoRegistroConsulta = 1202;
void GrabaConsultasBase();

// ---- Script execution and SQL builders ------------------------------------------------

void GActualizarDatoScript(const TListaSentencias& sentencias, bool& hayError, long& numeroError, bool ignoraDuplicado,
                           bool ignoraReferencia, std::string& script, std::string& mensaje, bool muestraMensaje);
void AgregaCampo(const std::string& nombreColumna, std::string& valorColumna, const std::string& tipoValor,
                 bool esPrimero);
void ArmaSentencia(TListaCampos& campos, TListaSentencias& sentencias, const std::string& tabla, bool esUpdate,
                   std::string& condicion, bool conservaCampos);
std::string AdaptaSQL(const std::string& textoSQL);
// AdaptaSQL for a session of the given provider.
std::string AdaptaSQLPara(const std::string& textoSQL, const std::string& proveedor);
// The operator's text for a failed batch: "number : description" lines.
std::string TextoErrores(const ado::Errors& errores);

}  // namespace etapas
