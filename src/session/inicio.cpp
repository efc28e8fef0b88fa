#include "session/inicio.h"

#include <filesystem>
#include <iostream>
#include <vector>

#include "common/mod_global.h"
#include "components/cls_consulta.h"
#include "components/cls_planilla.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/text.h"
#include "components/sql_text.h"

namespace etapas {
namespace {

std::string& HelpFile() {
  static std::string f;
  return f;
}

// Start-up's rule: an invalid argument skips the step; anything else ends it without a
// message box. A file that could not be written is still told on standard error: otherwise
// the session would go on without its configuration and usage record and nobody would know.
int ReglaInicio(const RaisedError& e) {
  if (e.Number() == errnum::kInvalidArgument) return kIgnorar;
  if (e.Number() == errnum::kPathFileAccess)
    std::cerr << "etapas: el inicio no pudo escribir un archivo (" << e.Description()
              << "); la sesión sigue sin cargar la configuración ni registrar el uso. "
                 "Compruebe que la carpeta existe y que este usuario puede escribir en ella."
              << std::endl;
  return kAbandonar;
}

[[noreturn]] void ArgumentoInvalido() {
  throw RaisedError(errnum::kInvalidArgument, "Invalid procedure call or argument");
}

// Where a key stands as a whole key: followed by optional blanks and "=". "@Usuario" is
// not found inside "@UsuarioLogeado".
size_t BuscarClave(const std::string& comando, const std::string& clave) {
  for (size_t desde = 0;;) {
    size_t p = text::FindNoCase(comando, clave, desde);
    if (p == std::string::npos) return p;
    size_t q = p + clave.size();
    while (q < comando.size() && (comando[q] == ' ' || comando[q] == '\t')) ++q;
    if (q < comando.size() && comando[q] == '=') return p;
    desde = p + 1;
  }
}

// The value of one key; the absent-key value when the key is not there. A key with no
// ";" after it is an invalid argument (the field keeps its value), except the final
// "@ParametroAdicional", which takes as many characters as its own name has.
void LeerClave(const std::string& comando, const std::string& clave, std::string& destino, const std::string& ausente) {
  const size_t p = BuscarClave(comando, clave);
  if (p == std::string::npos) {
    destino = ausente;
    return;
  }
  const size_t inicio = p + clave.size();
  const size_t fin = comando.find(';', p);
  std::string crudo;
  if (fin == std::string::npos) {
    if (!text::EqualsNoCase(clave, "@ParametroAdicional")) ArgumentoInvalido();
    crudo = comando.substr(inicio, clave.size());
  } else {
    crudo = comando.substr(inicio, fin - inicio);
  }
  destino = text::TrimCopy(ClsUtil::ExtraerValor(crudo, "="));
}

std::string Seccion(const char* sufijo) {
  return text::Upper(ClsEntorno::NombreMaquina()) + "|" + text::Upper(ClsEntorno::UsuarioSesion()) + sufijo;
}

}  // namespace

const std::string& ArchivoAyuda() { return HelpFile(); }

std::string ComandoPorDefecto() {
  const std::string seccion = Seccion("BaseDeDatos");
  const std::string servidor = ClsUtil::ExtraerValor(ClsIni::LeerValor(kArchivoIni, seccion, "Servidor", ""), "|");
  const std::string base = ClsUtil::ExtraerValor(ClsIni::LeerValor(kArchivoIni, seccion, "DbName", ""), "|");
  const std::string usuario = ClsUtil::ExtraerValor(
      ClsUtil::Decodificar(ClsIni::LeerValor(kArchivoIni, seccion, "Usuario", ClsUtil::Codificar("Corvela"))), "|");
  const std::string clave = ClsUtil::ExtraerValor(
      ClsUtil::Decodificar(ClsIni::LeerValor(kArchivoIni, seccion, "UserPassWord", ClsUtil::Codificar("pelusin"))),
      "|");
  return "@server=" + servidor + "; @dbname= " + base + "; @usuario= " + usuario + "; @Password= " + clave +
         "; @ParametroAdicional=; @Caja=1;orbe@";
}

void ParsearComando(const std::string& comando, ValoresComando& v) {
  TSesionSistema& s = SesionSistema;
  Pasos p(ReglaInicio);
  p.Paso([&] { LeerClave(comando, "@ParametroAdicional", s.ParametroAdicional, ""); });
  p.Paso([&] { LeerClave(comando, "@Menu", s.Menu, ""); });
  p.Paso([&] { LeerClave(comando, "@Server", v.servidor, ""); });
  p.Paso([&] { LeerClave(comando, "@DbName", v.baseDatos, ""); });
  p.Paso([&] { LeerClave(comando, "@Usuario", v.usuario, ""); });
  p.Paso([&] { LeerClave(comando, "@Password", v.clave, ""); });
  p.Paso([&] { LeerClave(comando, "@UsuarioLogeado", s.UsuarioLogeado, ""); });
  p.Paso([&] { LeerClave(comando, "@Caja", s.Caja, "1"); });
  p.Ejecutar();
}

void IniciarSesion(bool usarIni, const std::string& comandoDado, std::string& cadenaConexion, long modoConexion) {
  TSesionSistema& s = SesionSistema;
  ClsDatos& datos = *s.Datos;
  std::string carpeta, comando;
  ValoresComando v;
  Pasos p(ReglaInicio);

  // First half: the command line.
  p.Paso([&] {
    carpeta = ClsUtil::CompletarRuta(Platform().CarpetaPrograma());
    HelpFile() = carpeta + "htmlhelp/Quorvix.chm";
  });
  p.Paso([&] {
    ConfigSistema.CLetra = 0;
    ConfigSistema.CFondo = 16777215;
  });
  p.Paso([&] { comando = !comandoDado.empty() ? comandoDado : Platform().LineaComando(); });
  p.Paso([&] {
    if (text::Trim(comando).empty() && usarIni) comando = ComandoPorDefecto();
  });
  p.Paso([&] {
    s.EquipoUsuario = text::Upper(ClsEntorno::NombreMaquina()) + "|" + text::Upper(ClsEntorno::UsuarioSesion());
    if (text::Length(text::Trim(s.EquipoUsuario)) > 50) s.EquipoUsuario = text::Left(s.EquipoUsuario, 50);
  });
  p.Paso([&] {
    s.BarrasPlanas = Variant(ValNumero(ClsIni::LeerValor(kArchivoIni, s.EquipoUsuario, "FlatToolbars", "1")));
  });
  // Second half: the connection, unless the session is connected already.
  Pasos::Lista conectar, configurar;
  p.Rama([&] { return datos.Conectado() ? nullptr : &conectar; });
  conectar.Paso([&] { ParsearComando(comando, v); });
  conectar.Paso([&] {
    if (!v.servidor.empty() && v.servidor.front() == '#') {
      v.servidor.erase(0, 1);
      if (cadenaConexion.empty())
        cadenaConexion = "Provider=OraOLEDB.Oracle.1;Data Source=" + v.baseDatos + ";User Id=" + v.usuario +
                         ";Password=" + v.clave + ";";
    }
  });
  conectar.Paso([&] {
    datos.Usuario(v.usuario);
    datos.BaseDatos(v.baseDatos);
    datos.Clave(v.clave);
    datos.Servidor(ExtraeServidor(v.servidor));
  });
  conectar.Paso([&] {
    const bool faltan = text::Trim(v.servidor).empty() || text::Trim(v.usuario).empty();
    datos.Conectar(faltan, modoConexion, cadenaConexion, true, true);
  });
  conectar.Paso([&] {
    if (!datos.Conectado()) Platform().TerminarProceso(1);
  });
  conectar.Paso([&] { ConectarEstadistica(); });
  conectar.Paso([&] { s.UsuarioLogeado = datos.Usuario(); });
  conectar.Paso([&] { datos.ConexionAbierta().SetCommandTimeout(s.TiempoEspera); });
  conectar.Paso([&] { datos.ConexionAbierta().SetIsolationLevel(ado::kReadUncommitted); });
  // Both paths meet here: connected now, or already connected before start-up.
  p.Rama([&] { return datos.BaseDatos().empty() ? nullptr : &configurar; });
  configurar.Paso(
      [&] { s.CadenaDSN = "DSN=" + datos.BaseDatos() + "; UID=" + datos.Usuario() + "; PWD=" + datos.Clave(); });
  configurar.Paso([&] { ClsAux::Inicializar(carpeta); });
  configurar.Paso([&] { datos.ConexionAbierta().SetDefaultDatabase(datos.BaseDatos()); });
  configurar.Paso([&] {
    Consulta().Proveedor = datos.Proveedor();
    Consulta().Conexion = datos.Conexion();
    Consulta().Activar = true;
    Consulta().ArchivoConsultas(UbicarArchivoConsultas(carpeta, datos.RaizDatos(), "consultas.cvl"));
  });
  configurar.Paso([&] {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(Consulta().ArchivoConsultas(), ec)) GrabaConsultasBase();
  });
  configurar.Paso([&] {
    datos.ConexionAbierta().SetDefaultDatabase(datos.BaseDatos());
    if (!datos.BaseDatos().empty()) CargaConfiguracion(carpeta);
  });
  p.Paso([&] { RegistrarAcceso(""); });
  p.Ejecutar();
}

void ConectarEstadistica() {
  TSesionSistema& s = SesionSistema;
  ClsDatos& est = *s.DatosEstadistica;
  Pasos p(SaltarSiempre);
  p.Paso([&] { s.TiempoEspera = 360; });
  p.Paso([&] {
    if (est.Conectado()) est.Conexion()->Close();
  });
  p.Paso([&] {
    est.AsignarDatoSesion(s.Datos->DatoSesion());
    est.Servidor(s.Datos->Servidor());
    est.BaseDatos("CV_TORNASOLADAS");
    est.Usuario("CV_TORNASOLADAS");
    est.Clave("CV_TORNASOLADAS");
  });
  p.Paso([&] {
    std::string cadena;
    est.Conectar(false, 3, cadena, true, false);
  });
  p.Paso([&] {
    if (!est.Conectado()) p.Terminar();
  });
  p.Paso([&] { est.ConexionAbierta().SetDefaultDatabase("CV_TORNASOLADAS"); });
  p.Paso([&] {
    std::string aux;
    s.TiempoEspera = CInt(ValNumero(CfgCV("TimeOut", aux)));
  });
  p.Paso([&] {
    if (s.TiempoEspera == 0)
      GrabaCfgCV("TimeOut", Variant(static_cast<int>(s.TiempoEspera)), "", false, "BaseDeDatos", true);
  });
  p.Ejecutar();
  if (s.TiempoEspera == 0) s.TiempoEspera = 360;
}

namespace {

// Other programs of the suite recorded under another name, exempt from the task lookup,
// or not recorded at all. This program is none of them; the table is empty until the
// suite's menu asks for entries.
struct Alias {
  const char* programa;
  const char* destino;
};
const std::vector<Alias> kAlias{};
const std::vector<std::string> kExentos{};
const std::string kExcluido;

}  // namespace

void RegistrarAcceso(const std::string& procesoDado) {
  TSesionSistema& s = SesionSistema;
  ClsDatos& datos = *s.Datos;
  const std::string ejecutable = Platform().NombreEjecutable();
  std::string programa, tarea;
  ado::RecordsetPtr rs;
  bool buscar = true;
  Pasos p(SaltarSiempre);
  p.Paso([&] { programa = procesoDado.empty() ? ejecutable : procesoDado; });
  p.Paso([&] { s.UsuarioLogeado = datos.Usuario(); });
  p.Paso([&] {
    for (const auto& a : kAlias)
      if (text::EqualsNoCase(programa, a.programa)) {
        programa = a.destino;
        return;
      }
    for (const auto& e : kExentos)
      if (text::EqualsNoCase(programa, e)) buscar = false;
    if (!kExcluido.empty() && text::EqualsNoCase(programa, kExcluido)) p.Terminar();
  });
  p.Paso([&] {
    if (!buscar) return;
    // Both values are placed between quotes: a quote in them must stay a character.
    const std::string usuario = sqltext::Doubled(s.UsuarioLogeado);
    const std::string nombre = sqltext::Doubled(programa);
    datos.AbrirRecordset(std::string("SELECT TA_TAREAS.USUARIO, TA_MENU.Proceso, TA_MENU.Clave , TA_MENU.Nombre ") +
                             " FROM TA_TAREAS  with(nolock) INNER JOIN TA_MENU ON TA_TAREAS.TAREA = TA_MENU.Clave " +
                             " WHERE (TA_TAREAS.USUARIO = '" + usuario + " ') AND (TA_MENU.Proceso LIKE '%" + nombre +
                             "%')",
                         rs, nullptr, 0, 1, -1, true);
  });
  p.Paso([&] {
    if (!buscar) return;
    if (rs && !rs->EOF_()) {
      tarea = ClsUtil::ValorCampo(rs->Fields("Nombre")).ToText();
    } else if (text::EqualsNoCase(ejecutable, "KT512RL")) {
      tarea = "Menu Principal";
    } else if (text::EqualsNoCase(datos.BaseDatos(), datos.Usuario()) ||
               text::EqualsNoCase(datos.Usuario(), "SUPERVISOR CORVELA MC")) {
      tarea = ejecutable;
    }
  });
  p.Paso([&] {
    if (rs) datos.CerrarRecordset(rs);
  });
  p.Paso([&] {
    ListaSentencias.assign(1, "");
    std::string maquina = text::Upper(text::Trim(ClsEntorno::NombreMaquina()));
    std::string usuario = text::Upper(text::Trim(s.UsuarioLogeado));
    std::string formulario = text::Upper(text::Trim(programa));
    std::string nombreTarea = text::Upper(text::Trim(tarea));
    std::string ingreso = Formatear(DateTime::Now(), FormatoFecha() + " " + FormatoHora());
    std::string nombreUsuario = s.UsuarioLogeado;
    AgregaCampo("Maquina", maquina, "'", true);
    AgregaCampo("Usuario", usuario, "'", false);
    AgregaCampo("Formulario", formulario, "'", false);
    AgregaCampo("Tarea", nombreTarea, "'", false);
    AgregaCampo("Ingreso", ingreso, "'", false);
    AgregaCampo("NombreUsuario", nombreUsuario, "'", false);
    std::string condicion;
    ArmaSentencia(ListaCampos, ListaSentencias, "Control_Acceso", false, condicion, false);
  });
  p.Paso([&] {
    bool hayError = false;
    long numero = 0;
    std::string script, mensaje;
    GActualizarDatoScript(ListaSentencias, hayError, numero, false, false, script, mensaje, true);
  });
  p.Ejecutar();
}

ArchivoSkin SkinDeEstilo(int estilo) {
  switch (estilo) {
    case 1: return {"Styles/Vista.cjstyles", ""};
    case 2: return {"Styles/WinXP.Luna.cjstyles", ""};
    case 3: return {"Styles/WinXP.Royale.cjstyles", ""};
    case 4: return {"Styles/iTunes", "Normalitunes.ini"};
    default: return {"Styles/Office2007.cjstyles", ""};
  }
}

void AsignarIcono(Ventana& ventana) {
  Pasos p(SaltarSiempre);
  p.Paso([&] { ventana.IconoDeRecurso("ICONCORVELA"); });
  p.Paso([&] {
    if (!ventana.TieneIcono()) ventana.IconoDeArchivo("corvela.ico");
  });
  p.Paso([&] {
    if (text::EqualsNoCase(ventana.NombreTipo(), "FRMMDI")) p.Terminar();
  });
  for (const char* barra : {"Botonera1", "TBarRep1", "Util0011"})
    p.Paso([&ventana, barra] { ventana.AsignarPropiedad(barra, "StyleBar", SesionSistema.BarrasPlanas); });
  p.Paso([] { Platform().DoEvents(); });
  p.Ejecutar();
}

void AplicarEstilo(Ventana& ventana) {
  TSesionSistema& s = SesionSistema;
  ArchivoSkin skin;
  std::string ruta;
  // A skin that cannot be loaded leaves the window unskinned; the program still starts.
  Pasos p([&](const RaisedError& e) {
    std::cerr << "No se pudo aplicar el estilo " << ruta << ": " << e.Description() << std::endl;
    return kAbandonar;
  });
  p.Paso([&] {
    s.Estilo = CInt(ValNumero(
        ClsIni::LeerValor("kt512rl.ini", text::Upper(ClsEntorno::UsuarioSesion()) + "Styles", "Styles", "1")));
  });
  p.Paso([&] {
    skin = SkinDeEstilo(s.Estilo);
    ruta = ClsUtil::CompletarRuta(Platform().CarpetaPrograma()) + skin.archivo;
  });
  p.Paso([&] { ventana.SkinFramework1().LoadSkin(ruta, skin.ini); });
  p.Paso([&] { ventana.SkinFramework1().ApplyWindow(ventana.Handle()); });
  p.Paso([&] { ventana.SkinFramework1().ApplyOptions(ventana.SkinFramework1().ApplyOptions() | 1); });
  p.Ejecutar();
}

}  // namespace etapas
