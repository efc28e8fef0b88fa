#include "ui/qt/dialogos_qt.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace etapas::ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

VentanaPlanillaQt::ElegirArchivo& Chooser() {
  static VentanaPlanillaQt::ElegirArchivo f;
  return f;
}

bool EsNumerico(int t) { return t == 2 || t == 3 || t == 4 || t == 5 || t == 6 || t == 17 || t == 20 || t == 131; }

// A cell that sorts numbers as numbers.
class Celda : public QTableWidgetItem {
 public:
  Celda(const QString& texto, bool numero) : QTableWidgetItem(texto), numero_(numero) {}
  bool operator<(const QTableWidgetItem& otra) const override {
    if (numero_) return text().toDouble() < otra.text().toDouble();
    return QString::localeAwareCompare(text(), otra.text()) < 0;
  }

 private:
  bool numero_;
};

}  // namespace

VentanaConsultaQt::VentanaConsultaQt(const PeticionConsulta& p, QWidget* parent) : QDialog(parent), peticion_(p) {
  setObjectName("VentanaConsulta");
  setWindowTitle("Consulta - " + Q(p.titulo));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* fila = new QHBoxLayout;
  fila->addWidget(new QLabel("Buscar:", this));
  filtro_ = new QLineEdit(this);
  filtro_->setPlaceholderText("Escriba para filtrar por código o descripción");
  fila->addWidget(filtro_);
  layout->addLayout(fila);
  tabla_ = new QTableWidget(static_cast<int>(p.filas.size()), static_cast<int>(p.columnas.size()), this);
  QStringList encabezados;
  for (const auto& c : p.columnas) encabezados << Q(c);
  tabla_->setHorizontalHeaderLabels(encabezados);
  for (size_t r = 0; r < p.filas.size(); ++r)
    for (size_t c = 0; c < p.filas[r].size() && c < p.columnas.size(); ++c)
      tabla_->setItem(static_cast<int>(r), static_cast<int>(c), new QTableWidgetItem(Q(p.filas[r][c])));
  tabla_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tabla_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tabla_->setSelectionMode(QAbstractItemView::SingleSelection);
  tabla_->verticalHeader()->hide();
  tabla_->horizontalHeader()->setStretchLastSection(true);
  tabla_->resizeColumnsToContents();
  if (tabla_->rowCount() > 0) tabla_->selectRow(0);
  layout->addWidget(tabla_);
  auto* botones = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  botones->button(QDialogButtonBox::Ok)->setText("Elegir");
  botones->button(QDialogButtonBox::Cancel)->setText("Cancelar");
  layout->addWidget(botones);
  connect(botones, &QDialogButtonBox::accepted, this, [this] { Elegir(); });
  connect(botones, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tabla_, &QTableWidget::cellDoubleClicked, this, [this](int elegida, int) {
    tabla_->selectRow(elegida);
    Elegir();
  });
  connect(filtro_, &QLineEdit::textChanged, this, [this](const QString& t) { Filtrar(t); });
  filtro_->installEventFilter(this);
  tabla_->installEventFilter(this);
  resize(520, 420);
  filtro_->setFocus();
}

int VentanaConsultaQt::FilasVisibles() const {
  int n = 0;
  for (int r = 0; r < tabla_->rowCount(); ++r) n += tabla_->isRowHidden(r) ? 0 : 1;
  return n;
}

void VentanaConsultaQt::Filtrar(const QString& texto) {
  const QString t = texto.trimmed();
  int primera = -1;
  for (int r = 0; r < tabla_->rowCount(); ++r) {
    bool visible = t.isEmpty();
    for (int c = 0; !visible && c < tabla_->columnCount(); ++c)
      if (auto* item = tabla_->item(r, c)) visible = item->text().contains(t, Qt::CaseInsensitive);
    tabla_->setRowHidden(r, !visible);
    if (visible && primera < 0) primera = r;
  }
  if (primera >= 0) tabla_->selectRow(primera);
  else tabla_->clearSelection();
}

void VentanaConsultaQt::Elegir() {
  const auto filas = tabla_->selectionModel()->selectedRows();
  if (filas.isEmpty() || tabla_->isRowHidden(filas.first().row())) return;
  if (auto* item = tabla_->item(filas.first().row(), peticion_.columnaClave)) resultado_ = item->text().toStdString();
  accept();
}

bool VentanaConsultaQt::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      Elegir();
      return true;
    }
    // Arrows in the filter box move through the rows that remain.
    if (watched == filtro_ && (k->key() == Qt::Key_Down || k->key() == Qt::Key_Up)) {
      const int paso = k->key() == Qt::Key_Down ? 1 : -1;
      const auto sel = tabla_->selectionModel()->selectedRows();
      int r = sel.isEmpty() ? -1 : sel.first().row();
      for (int n = r + paso; n >= 0 && n < tabla_->rowCount(); n += paso)
        if (!tabla_->isRowHidden(n)) {
          tabla_->selectRow(n);
          break;
        }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

VentanaPlanillaQt::VentanaPlanillaQt(const PeticionPlanilla& p, QWidget* parent) : QDialog(parent), peticion_(p) {
  setObjectName("VentanaPlanilla");
  setWindowTitle("Planilla - " + Q(p.titulo) + " (" + QString::number(p.filas.size()) + " filas)");
  auto* layout = new QVBoxLayout(this);
  if (!p.error.empty()) layout->addWidget(new QLabel("No se pudieron leer los datos: " + Q(p.error), this));
  tabla_ = new QTableWidget(static_cast<int>(p.filas.size()), static_cast<int>(p.columnas.size()), this);
  QStringList encabezados;
  for (const auto& c : p.columnas) encabezados << Q(c);
  tabla_->setHorizontalHeaderLabels(encabezados);
  for (size_t r = 0; r < p.filas.size(); ++r)
    for (size_t c = 0; c < p.filas[r].size() && c < p.columnas.size(); ++c) {
      const bool numero = c < p.tipos.size() && EsNumerico(p.tipos[c]);
      auto* item = new Celda(Q(p.filas[r][c]), numero);
      if (numero) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      tabla_->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  tabla_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tabla_->setSortingEnabled(true);
  tabla_->setAlternatingRowColors(true);
  tabla_->resizeColumnsToContents();
  layout->addWidget(tabla_);
  auto* fila = new QHBoxLayout;
  auto* xlsx = new QPushButton("Exportar a Excel (.xlsx)...", this);
  auto* csv = new QPushButton("Exportar a CSV...", this);
  auto* cerrar = new QPushButton("Cerrar", this);
  fila->addWidget(xlsx);
  fila->addWidget(csv);
  fila->addStretch();
  fila->addWidget(cerrar);
  layout->addLayout(fila);
  connect(xlsx, &QPushButton::clicked, this, [this] { Exportar(true); });
  connect(csv, &QPushButton::clicked, this, [this] { Exportar(false); });
  connect(cerrar, &QPushButton::clicked, this, &QDialog::accept);
  resize(760, 480);
}

bool VentanaPlanillaQt::Exportar(bool xlsx) {
  const QString filtro = xlsx ? "Libro de Excel (*.xlsx)" : "Texto CSV (*.csv)";
  const QString sugerido = Q(peticion_.titulo.empty() ? "planilla" : peticion_.titulo) + (xlsx ? ".xlsx" : ".csv");
  QString ruta = Chooser() ? Chooser()("Exportar planilla", filtro, sugerido)
                           : QFileDialog::getSaveFileName(this, "Exportar planilla", sugerido, filtro);
  if (ruta.isEmpty()) return false;
  const QString extension = xlsx ? ".xlsx" : ".csv";
  if (!ruta.endsWith(extension, Qt::CaseInsensitive)) ruta += extension;
  // What the grid shows, in the order the operator sorted it.
  PeticionPlanilla datos = peticion_;
  datos.filas.clear();
  for (int r = 0; r < tabla_->rowCount(); ++r) {
    std::vector<std::string> f;
    for (int c = 0; c < tabla_->columnCount(); ++c) f.push_back(tabla_->item(r, c) ? tabla_->item(r, c)->text().toStdString() : "");
    datos.filas.push_back(std::move(f));
  }
  try {
    if (xlsx) ClsPlanilla::ExportarXlsx(ruta.toStdString(), datos);
    else ClsPlanilla::ExportarCsv(ruta.toStdString(), datos);
  } catch (const std::exception& e) {
    QMessageBox::critical(this, "Exportar planilla", QString::fromStdString(e.what()));
    return false;
  }
  return true;
}

void VentanaPlanillaQt::SetElegirArchivo(ElegirArchivo f) { Chooser() = std::move(f); }

void InstalarDialogos(QWidget* padre) {
  ClsConsulta::SetVentana([padre](const PeticionConsulta& p) {
    VentanaConsultaQt ventana(p, padre);
    ventana.exec();
    return ventana.Resultado();
  });
  ClsPlanilla::SetVentana([padre](const PeticionPlanilla& p) {
    VentanaPlanillaQt ventana(p, padre);
    ventana.exec();
  });
}

}  // namespace etapas::ui
