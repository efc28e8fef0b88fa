#pragma once
// The lookup window and the spreadsheet listing, as the components ask for them.
#include <QDialog>
#include <functional>
#include <string>

#include "components/cls_consulta.h"
#include "components/cls_planilla.h"

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace etapas::ui {

// A modal list of the lookup's rows with a filter box: Enter or a double click chooses,
// Escape gives nothing back.
class VentanaConsultaQt : public QDialog {
  Q_OBJECT
 public:
  explicit VentanaConsultaQt(const PeticionConsulta& peticion, QWidget* parent = nullptr);
  const std::string& Resultado() const { return resultado_; }
  QLineEdit* Filtro() { return filtro_; }
  QTableWidget* Tabla() { return tabla_; }
  int FilasVisibles() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Filtrar(const QString& texto);
  void Elegir();

  const PeticionConsulta& peticion_;
  QLineEdit* filtro_ = nullptr;
  QTableWidget* tabla_ = nullptr;
  std::string resultado_;
};

// The listing: the statement's rows in its order, sortable by a click on a heading, exported
// to .xlsx or to either form of CSV with a save dialog.
class VentanaPlanillaQt : public QDialog {
  Q_OBJECT
 public:
  enum class Formato { kXlsx, kCsvExcel, kCsv };
  explicit VentanaPlanillaQt(const PeticionPlanilla& peticion, QWidget* parent = nullptr);
  QTableWidget* Tabla() { return tabla_; }
  // Exports what the grid shows, in its current order, and says where; false when nothing
  // was written (cancelled, not replaced, or failed: the operator is told why).
  bool Exportar(Formato formato);

  // The save dialog; tests answer it without showing one.
  using ElegirArchivo = std::function<QString(const QString& titulo, const QString& filtro, const QString& sugerido)>;
  static void SetElegirArchivo(ElegirArchivo f);

 private:
  PeticionPlanilla peticion_;
  QTableWidget* tabla_ = nullptr;
};

}  // namespace etapas::ui
