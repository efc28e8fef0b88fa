// etapas-capturas: draws the editor's windows on the demonstration data and saves a PNG
// of each, for the documentation (run it under Xvfb, after `etapas-admin demo`).
#include <QApplication>
#include <QLineEdit>
#include <QDir>
#include <QTableWidget>
#include <QTest>
#include <iostream>

#include "common/mod_global.h"
#include "components/cls_consulta.h"
#include "components/cls_planilla.h"
#include "components/cls_util.h"
#include "components/platform.h"
#include "session/inicio.h"
#include "progress/dll_display.h"
#include "ui/qt/dialogos_qt.h"
#include "ui/qt/progreso_qt.h"
#include "ui/qt/ventana_qt.h"

using namespace etapas;

namespace {

void Guardar(QWidget& w, const QString& carpeta, const QString& nombre) {
  QTest::qWait(150);
  w.grab().save(carpeta + "/" + nombre + ".png");
  std::cout << (carpeta + "/" + nombre + ".png").toStdString() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString carpeta = argc > 1 ? argv[1] : "docs";
  QDir().mkpath(carpeta);
  ui::PlataformaQt plataforma;
  plataforma.commandLine = "@Server=DEMO; @DbName=EMPRESA1; @Usuario=OPERADOR; @Password=OPERADOR; @UsuarioLogeado=OPERADOR;";
  plataforma.answerer = [](const std::string&, int style, const std::string&) { return mb::DefaultAnswer(style); };
  SetPlatform(&plataforma);
  FrmV_TA_ETAPAS modelo;
  ui::VentanaQt ventana(modelo);
  modelo.Form_Load();
  modelo.Visible = true;
  ventana.show();
  modelo.SetFocus(0);
  ventana.Sincronizar();
  QTest::qWaitForWindowExposed(&ventana);
  Guardar(ventana, carpeta, "editor-idle");

  modelo.Escribir(0, "0004");
  modelo.Txtfields_KeyDown(0, 13, 0);
  ventana.Sincronizar();
  Guardar(ventana, carpeta, "editor-editing");

  const char* skins[] = {"Vista.cjstyles", "WinXP.Luna.cjstyles", "WinXP.Royale.cjstyles", "iTunes", "Office2007.cjstyles"};
  for (int i = 0; i < 5; ++i) {
    modelo.LoadSkin(ClsUtil::CompletarRuta(Platform().CarpetaPrograma()) + "Styles/" + skins[i], "");
    modelo.ApplyWindow(modelo.Handle());
    ventana.Sincronizar();
    Guardar(ventana, carpeta, QString("skin-%1").arg(i + 1));
  }

  PeticionConsulta consulta{"SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", "CODIGOESTADO", "", "",
                            "V_TA_ETAPAS", {}, {}, 0};
  LeerFilas(*SesionSistema.Datos->Conexion(), consulta.sql, consulta.columnas, consulta.filas);
  ui::VentanaConsultaQt lookup(consulta, &ventana);
  lookup.show();
  QTest::keyClicks(lookup.Filtro(), "rep");
  Guardar(lookup, carpeta, "lookup");
  lookup.hide();

  ClsPlanilla::SetVentana([&](const PeticionPlanilla& p) {
    ui::VentanaPlanillaQt listing(p, &ventana);
    listing.show();
    listing.Tabla()->sortByColumn(1, Qt::AscendingOrder);
    Guardar(listing, carpeta, "listing");
  });
  ClsPlanilla::MostrarPlanilla("SELECT * FROM V_TA_ETAPAS", "sqlite", "V_TA_ETAPAS", "");

  RegistrarVentanaProgreso([](EventosVentanaProgreso& e) { return std::make_unique<ui::VentanaProgresoQt>(e); });
  Dll_Display cartel;
  cartel.CartelInicio("Replicando V_TA_ETAPAS", true);
  bool cancelado = false;
  cartel.CartelMostrar(cancelado, Variant("Punto de venta 0001 - Sucursal Centro"), Variant("Servidor SUCURSAL1, base TPV_CENTRO"),
                       Variant("1 de 2"));
  auto* progreso = dynamic_cast<ui::VentanaProgresoQt*>(&cartel.Ventana()->Ventana());
  QTest::qWait(500);
  Guardar(*progreso, carpeta, "progress");
  cartel.CartelCerrar();
  return 0;
}
