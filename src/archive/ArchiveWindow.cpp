#include "archive/ArchiveWindow.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <chrono>
#include <map>
#include <span>

#include "archive/Location.h"
#include "archive/ReportPdf.h"
#include "gui/ChartView.h"
#include "link/Link.h"
#include "platform/AtomicFile.h"
#include "platform/Utf8Path.h"

namespace velutron {

namespace {

using namespace archive;

constexpr int kDay = 86400;
constexpr int kDefaultDays = 7;  // the period first proposed: the last week of readings
constexpr int kReportChartColumns = 1600;

QString Q(const std::string& s) { return QString::fromStdString(s); }
constexpr const char* kNoReadings = "Archiwum nie zawiera jeszcze pomiarów !";

// The editors hold local wall times; Qt's own idea of the zone never enters.
QDateTime WallToEdit(int64_t wall_s) { return QDateTime::fromSecsSinceEpoch(wall_s, Qt::UTC); }
int64_t EditToWall(const QDateTimeEdit* edit) { return edit->dateTime().toSecsSinceEpoch(); }

int64_t Midnight(int64_t wall_s) {
  return (wall_s >= 0 ? wall_s / kDay : -((kDay - 1 - wall_s) / kDay)) * kDay;
}

}  // namespace

ArchiveWindow::ArchiveWindow(const std::string& location, const std::string& zone, UserInterface& ui,
                             QWidget* parent)
    : QDialog(parent), ui_(ui) {
  setObjectName("ArchiveWindow");
  setWindowTitle(QStringLiteral("Archiwum"));
  resize(980, 700);

  loggers_ = new QComboBox(this);
  loggers_->setObjectName("Loggers");
  from_ = new QDateTimeEdit(this);
  to_ = new QDateTimeEdit(this);
  for (QDateTimeEdit* e : {from_, to_}) {
    e->setTimeSpec(Qt::UTC);
    e->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    e->setCalendarPopup(true);
  }
  from_->setObjectName("From");
  to_->setObjectName("To");
  channels_ = new QListWidget(this);
  channels_->setObjectName("Channels");
  channels_->setMaximumHeight(80);
  status_ = new QLabel(this);
  status_->setObjectName("Status");
  auto* show = new QPushButton(QStringLiteral("Pokaż"), this);
  show->setObjectName("Show");
  auto* pdf = new QPushButton(QStringLiteral("Raport PDF…"), this);
  pdf->setObjectName("ReportPdf");
  auto* close = new QPushButton(QStringLiteral("Zamknij"), this);

  auto* choice = new QGridLayout;
  choice->addWidget(new QLabel(QStringLiteral("Rejestrator:"), this), 0, 0);
  choice->addWidget(loggers_, 0, 1);
  choice->addWidget(new QLabel(QStringLiteral("Od:"), this), 0, 2);
  choice->addWidget(from_, 0, 3);
  choice->addWidget(new QLabel(QStringLiteral("Do:"), this), 0, 4);
  choice->addWidget(to_, 0, 5);
  choice->addWidget(new QLabel(QStringLiteral("Kanały:"), this), 1, 0, Qt::AlignTop);
  choice->addWidget(channels_, 1, 1, 1, 5);
  choice->addWidget(status_, 2, 1, 1, 5);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {show, pdf, close}) buttons->addWidget(b);
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(choice, 1);
  top->addLayout(buttons);

  chartBox_ = new QVBoxLayout;
  table_ = new QTableWidget(this);
  table_->setObjectName("Statistics");
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(chartBox_, 3);
  layout->addWidget(table_, 2);

  connect(show, &QPushButton::clicked, this, [this] { ShowPeriod(); });
  connect(pdf, &QPushButton::clicked, this, [this] { PdfClick(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  std::string error;
  if (auto named = TimeZone::Named(zone, error)) zone_.emplace(std::move(*named));
  if (!zone_) {
    ui_.ShowMessage(text::kCaptionWarning, "Nieznana strefa czasowa: " + zone);
    return;
  }
  // Until the readings say otherwise, the period proposed is today.
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  const int64_t today = Midnight(now + zone_->OffsetAt(now));
  from_->setDateTime(WallToEdit(today));
  to_->setDateTime(WallToEdit(today + kDay));
  context_.version = VELUTRON_VERSION;
  archive_ = OpenPeriodArchive(location, error, OpenMode::Existing);
  if (!archive_ || !archive_->Loggers(entries_, error)) {
    archive_.reset();
    ui_.ShowMessage(text::kCaptionWarning,
                    "Nie można otworzyć archiwum " + MaskedLocation(location) + " !\r" + error);
    return;
  }
  if (entries_.empty()) status_->setText(QString::fromUtf8(kNoReadings));
  for (const LoggerEntry& e : entries_) loggers_->addItem(Q(e.id.name));
  connect(loggers_, &QComboBox::currentIndexChanged, this, [this] { LoggerChosen(); });
  LoggerChosen();
}

ArchiveWindow::~ArchiveWindow() = default;

void ArchiveWindow::LoggerChosen() {
  channels_->clear();
  const int index = loggers_->currentIndex();
  if (index < 0 || !archive_) return;
  const LoggerEntry& logger = entries_[static_cast<size_t>(index)];
  std::vector<ChannelEntry> entries;
  int64_t first = 0, last = 0;
  bool any = false;
  std::string error;
  if (!archive_->Channels(logger.key, entries, error) ||
      !archive_->Span(logger.key, first, last, any, error)) {
    ui_.ShowMessage(text::kCaptionWarning, error);
    return;
  }
  // The latest name and unit of each channel.
  std::map<int, ChannelInfo> latest;
  for (const ChannelEntry& e : entries) latest[e.info.channel] = e.info;
  for (const auto& [channel, info] : latest) {
    std::string name = std::to_string(channel) + ".";
    if (!info.point.empty()) name += " " + info.point;
    auto* item = new QListWidgetItem(Q(name + (info.unit == Unit::RelativeHumidity ? " [%RH]" : " [°C]")));
    item->setData(Qt::UserRole, channel);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    channels_->addItem(item);
  }
  channels_->setFlow(QListView::LeftToRight);
  channels_->setWrapping(true);
  status_->setText(any ? QString() : QString::fromUtf8(kNoReadings));
  if (!any) return;
  const int64_t lastWall = last / 1000 + zone_->OffsetAt(last / 1000);
  const int64_t firstWall = first / 1000 + zone_->OffsetAt(first / 1000);
  const int64_t to = Midnight(lastWall) + kDay;
  from_->setDateTime(WallToEdit(std::max(Midnight(firstWall), to - kDefaultDays * kDay)));
  to_->setDateTime(WallToEdit(to));
}

bool ArchiveWindow::ShowPeriod() {
  const int index = loggers_->currentIndex();
  if (!archive_ || index < 0) {
    ui_.ShowMessage(text::kCaptionWarning, kNoReadings);
    return false;
  }
  StatsOptions options;
  LocalTimeKind kind;
  options.from_ms = zone_->ToUtc(EditToWall(from_), kind) * 1000;
  options.to_ms = zone_->ToUtc(EditToWall(to_), kind) * 1000;
  if (options.from_ms >= options.to_ms) {
    ui_.ShowMessage(text::kCaptionWarning, "Początek okresu musi poprzedzać jego koniec !");
    return false;
  }
  for (int i = 0; i < channels_->count(); ++i) {
    if (channels_->item(i)->checkState() == Qt::Checked)
      options.channels.push_back(channels_->item(i)->data(Qt::UserRole).toInt());
  }
  if (options.channels.empty()) {
    ui_.ShowMessage(text::kCaptionWarning, "Wybierz co najmniej jeden kanał !");
    return false;
  }
  const LoggerEntry& logger = entries_[static_cast<size_t>(index)];
  PeriodResult result;
  std::string error;
  if (!ComputePeriod(*archive_, logger, *zone_, options, kReportChartColumns, true, result, error)) {
    ui_.ShowMessage(text::kCaptionWarning, error);
    return false;
  }

  const auto rows = StatisticsTable(result.stats, *zone_);
  table_->clear();
  table_->setRowCount(static_cast<int>(rows.size()) - 1);
  table_->setColumnCount(static_cast<int>(rows.front().size()));
  for (size_t c = 0; c < rows.front().size(); ++c)
    table_->setHorizontalHeaderItem(static_cast<int>(c), new QTableWidgetItem(Q(c == 0 ? "" : rows[0][c])));
  for (size_t r = 1; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c)
      table_->setItem(static_cast<int>(r) - 1, static_cast<int>(c), new QTableWidgetItem(Q(rows[r][c])));
  }
  table_->resizeColumnsToContents();

  delete view_;
  view_ = new ChartView(result.chart, locale_, this);
  view_->setMinimumHeight(260);
  chartBox_->addWidget(view_);
  context_.logger = logger.id;
  context_.from_ms = options.from_ms;
  context_.to_ms = options.to_ms;
  // Readings changed under the archive after their hour was summarized: the figures shown are those of
  // the readings as they are, and the user is told which hours.
  std::string changed;
  for (const ChannelStats& s : result.stats) {
    for (const std::string& run : ChangedRuns(s, *zone_))
      changed += "\r" + std::to_string(s.channel) + ": " + run;
  }
  if (!changed.empty())
    ui_.ShowMessage(text::kCaptionWarning, "Godziny zmienione od ich podsumowania:" + changed);
  shown_ = std::move(result);
  if (!shown_->chart.HasValues())
    ui_.ShowMessage(text::kCaptionWarning, "Brak pomiarów do narysowania wykresu !");
  return true;
}

bool ArchiveWindow::SavePdf(const QString& fileName) {
  if (!shown_ && !ShowPeriod()) return false;
  context_.generated_utc_s =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  const ReportDocument document =
      MakeReportDocument(context_, *zone_, shown_->stats, shown_->chart, shown_->days);
  const QByteArray pdf = ReportPdf(document, locale_);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(pdf.constData()),
                                       static_cast<size_t>(pdf.size()));
  if (pdf.isEmpty() || !WriteFileAtomically(PathFromUtf8(fileName.toStdString()), bytes)) {
    ui_.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return false;
  }
  return true;
}

void ArchiveWindow::PdfClick() {
  if (!ShowPeriod()) return;
  const QString proposed = QStringLiteral("Raport_%1_%2.pdf")
                               .arg(loggers_->currentText().simplified().replace(' ', '_'))
                               .arg(from_->dateTime().toString(QStringLiteral("yyyy-MM-dd")));
  const std::optional<QString> chosen =
      chooser_ ? chooser_(this, proposed) : [this, &proposed]() -> std::optional<QString> {
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Raport PDF"), proposed,
                                                      QStringLiteral("Dokument PDF (*.pdf)"));
    return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
  }();
  if (chosen) SavePdf(*chosen);
}

}  // namespace velutron
