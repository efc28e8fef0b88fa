// The entry point of libetapas_qt.so: `etapas` loads the module and calls it when it
// opens its window. Nothing else is exported.
#include "ui/qt/ventana_qt.h"

extern "C" __attribute__((visibility("default"))) int etapas_ejecutar_ventana(int argc, char** argv,
                                                                              const char* commandLine) {
  return etapas::ui::EjecutarVentana(argc, argv, commandLine);
}
