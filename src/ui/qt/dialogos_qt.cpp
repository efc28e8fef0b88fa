#include "ui/qt/dialogos_qt.h"

#include "components/ado_types.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stsearch.h>
#include <unicode/tblcoll.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "components/error.h"
#include "components/platform.h"

namespace etapas::ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

VentanaPlanillaQt::ElegirArchivo& Chooser() {
  static VentanaPlanillaQt::ElegirArchivo f;
  return f;
}

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

// Spanish collation at primary strength: letter case and accents are lesser differences
// than primary ones, so "camion" finds "CAMIÓN"; "ñ" stays a letter of its own, as the
// operators read it. Null when ICU cannot give one (then the filter only ignores case).
icu::RuleBasedCollator* Colacion() {
  static const std::unique_ptr<icu::RuleBasedCollator> colacion = [] {
    UErrorCode estado = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> base(icu::Collator::createInstance(icu::Locale("es", "ES"), estado));
    auto* reglas = dynamic_cast<icu::RuleBasedCollator*>(base.get());
    if (U_FAILURE(estado) || !reglas) return std::unique_ptr<icu::RuleBasedCollator>();
    reglas->setStrength(icu::Collator::PRIMARY);
    return std::unique_ptr<icu::RuleBasedCollator>(static_cast<icu::RuleBasedCollator*>(base.release()));
  }();
  return colacion.get();
}

icu::UnicodeString U(const QString& s) { return icu::UnicodeString(s.utf16(), static_cast<int32_t>(s.size())); }

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
  std::unique_ptr<icu::StringSearch> busqueda;
  if (!t.isEmpty() && Colacion()) {
    UErrorCode estado = U_ZERO_ERROR;
    busqueda = std::make_unique<icu::StringSearch>(U(t), icu::UnicodeString(u" "), Colacion(), nullptr, estado);
    if (U_FAILURE(estado)) busqueda.reset();
  }
  auto contiene = [&](const QString& celda) {
    if (!busqueda) return celda.contains(t, Qt::CaseInsensitive);
    if (celda.isEmpty()) return false;
    UErrorCode estado = U_ZERO_ERROR;
    busqueda->setText(U(celda), estado);
    return U_SUCCESS(estado) && busqueda->first(estado) != USEARCH_DONE && U_SUCCESS(estado);
  };
  int primera = -1;
  for (int r = 0; r < tabla_->rowCount(); ++r) {
    bool visible = t.isEmpty();
    for (int c = 0; !visible && c < tabla_->columnCount(); ++c)
      if (auto* item = tabla_->item(r, c)) visible = contiene(item->text());
    tabla_->setRowHidden(r, !visible);
    if (visible && primera < 0) primera = r;
  }
  if (primera >= 0)
    tabla_->selectRow(primera);
  else
    tabla_->clearSelection();
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
      const bool numero = c < p.tipos.size() && ado::adtype::IsNumeric(p.tipos[c]);
      auto* item = new Celda(Q(p.filas[r][c]), numero);
      if (numero) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      tabla_->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  tabla_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Enabling sorting sorts at once by the heading's indicator: with none, the rows stay in
  // the statement's order until the operator clicks a heading.
  tabla_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  tabla_->setSortingEnabled(true);
  tabla_->setAlternatingRowColors(true);
  tabla_->resizeColumnsToContents();
  layout->addWidget(tabla_);
  auto* fila = new QHBoxLayout;
  auto* xlsx = new QPushButton("Exportar a Excel (.xlsx)...", this);
  auto* csvExcel = new QPushButton("Exportar a CSV (;) para Excel...", this);
  csvExcel->setToolTip("Separado por punto y coma, con los códigos como texto: Excel lo abre tal cual");
  auto* csv = new QPushButton("Exportar a CSV (RFC 4180)...", this);
  csv->setToolTip("Separado por comas, para otros programas");
  auto* cerrar = new QPushButton("Cerrar", this);
  fila->addWidget(xlsx);
  fila->addWidget(csvExcel);
  fila->addWidget(csv);
  fila->addStretch();
  fila->addWidget(cerrar);
  layout->addLayout(fila);
  connect(xlsx, &QPushButton::clicked, this, [this] { Exportar(Formato::kXlsx); });
  connect(csvExcel, &QPushButton::clicked, this, [this] { Exportar(Formato::kCsvExcel); });
  connect(csv, &QPushButton::clicked, this, [this] { Exportar(Formato::kCsv); });
  connect(cerrar, &QPushButton::clicked, this, &QDialog::accept);
  resize(760, 480);
}

namespace {

const char* const kExportar = "Exportar planilla";

QString CausaDelFallo(long numero) {
  switch (numero) {
    case 61: return "No queda espacio en el disco. Libere espacio o elija otra unidad y vuelva a exportar.";
    case 70:
      return "No hay permiso para escribir ahí, o el archivo está abierto en otro programa. Ciérrelo o elija otra "
             "carpeta y vuelva a exportar.";
    case 76: return "La carpeta no existe. Elija una carpeta existente y vuelva a exportar.";
    default:
      return "Compruebe que la carpeta admita escritura y que el archivo no esté abierto en otro programa, y vuelva a "
             "exportar.";
  }
}

void Avisar(const QString& texto, int estilo) { Platform().MsgBox(texto.toStdString(), estilo, kExportar); }

void AvisarFallo(const QString& ruta, const QString& causa) {
  Avisar("No se pudo escribir la planilla en:\n" + ruta + "\n\n" + causa, mb::kOk | mb::kCritical);
}

}  // namespace

bool VentanaPlanillaQt::Exportar(Formato formato) {
  const bool xlsx = formato == Formato::kXlsx;
  const QString filtro = xlsx                            ? "Libro de Excel (*.xlsx)"
                         : formato == Formato::kCsvExcel ? "CSV (;) para Excel (*.csv)"
                                                         : "CSV RFC 4180 (*.csv)";
  const QString extension = xlsx ? ".xlsx" : ".csv";
  const QString sugerido = Q(ClsPlanilla::NombreArchivo(Q(peticion_.titulo).toStdString())) + extension;
  // The dialog does not ask about replacing: the extension may still be added below, and
  // the question is asked then, once, about the file that will really be written.
  QString ruta = Chooser() ? Chooser()(kExportar, filtro, sugerido)
                           : QFileDialog::getSaveFileName(this, kExportar, sugerido, filtro, nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
  if (ruta.isEmpty()) return false;
  if (!ruta.endsWith(extension, Qt::CaseInsensitive)) ruta += extension;
  const QFileInfo destino(ruta);
  ruta = QDir::toNativeSeparators(destino.absoluteFilePath());
  if (destino.isDir()) {
    AvisarFallo(ruta, "Es una carpeta. Escriba el nombre de un archivo y vuelva a exportar.");
    return false;
  }
  if (destino.exists() && Platform().MsgBox(("El archivo " + ruta + " ya existe.\n¿Desea reemplazarlo?").toStdString(),
                                            mb::kYesNo | mb::kExclamation | mb::kDefault2, kExportar) != mb::kAnsYes)
    return false;

  // What the grid shows, in the order the operator sorted it; through Qt's strings so the
  // file holds valid UTF-8 whatever the database gave.
  PeticionPlanilla datos = peticion_;
  datos.titulo = Q(peticion_.titulo).toStdString();
  datos.columnas.clear();
  for (int c = 0; c < tabla_->columnCount(); ++c) {
    const auto* h = tabla_->horizontalHeaderItem(c);
    datos.columnas.push_back(h ? h->text().toStdString() : "");
  }
  datos.filas.clear();
  for (int r = 0; r < tabla_->rowCount(); ++r) {
    std::vector<std::string> f;
    f.reserve(static_cast<size_t>(tabla_->columnCount()));
    for (int c = 0; c < tabla_->columnCount(); ++c)
      f.push_back(tabla_->item(r, c) ? tabla_->item(r, c)->text().toStdString() : "");
    datos.filas.push_back(std::move(f));
  }
  try {
    const std::string archivo = QFile::encodeName(ruta).toStdString();
    using Forma = ClsPlanilla::FormaCsv;
    if (xlsx)
      ClsPlanilla::ExportarXlsx(archivo, datos);
    else
      ClsPlanilla::ExportarCsv(archivo, datos, formato == Formato::kCsvExcel ? Forma::kExcel : Forma::kRfc4180);
  } catch (const RaisedError& e) {
    AvisarFallo(ruta, CausaDelFallo(e.Number()));
    return false;
  } catch (const std::exception&) {
    AvisarFallo(ruta, CausaDelFallo(0));
    return false;
  }
  Avisar("La planilla se guardó en:\n" + ruta, mb::kOk | mb::kInformation);
  return true;
}

void VentanaPlanillaQt::SetElegirArchivo(ElegirArchivo f) { Chooser() = std::move(f); }

}  // namespace etapas::ui
