#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>

#include "app/Diagnostics.h"
#include "app/StartUp.h"
#ifdef VELUTRON_ARCHIVE
#include "archive/ArchiveFiles.h"
#include "archive/ArchiveWindow.h"
#endif
#include "data/ChartWindow.h"
#include "data/DatabaseCommands.h"
#include "data/Download.h"
#include "data/Export.h"
#include "data/ExportDialog.h"
#include "gui/FormLook.h"
#include "monitor/MemoryImage.h"
#include "monitor/Monitoring.h"
#include "settings/LoggerOptions.h"
#include "settings/Maintenance.h"
#include "settings/Sensors.h"
#include "settings/TextFields.h"

// The resources live in a static library: they must be pulled in by name.
static void InitVelutronResources() { Q_INIT_RESOURCE(velutron); }

namespace velutron {

namespace {
struct MenuItem {
  const char* name;  // empty: a separator
  const char* caption;
  QKeySequence shortcut;
  const char* picture;
  bool isDefault = false;
};
}  // namespace

TForm1::TForm1(std::unique_ptr<SerialPort> port, std::unique_ptr<Clock> clock,
               std::optional<std::string> firstArgument, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      port_(std::move(port)),
      clock_(std::move(clock)),
      pacer_(*clock_, [this] { pump_.Pump(); }),
      slicedClock_(*clock_, pacer_),
      slicedPort_(*port_, pacer_),
      session_(slicedPort_, slicedClock_, ui_, locale_),
      firstArgument_(std::move(firstArgument)) {
  InitVelutronResources();
  setObjectName("Form1");
  setWindowTitle(QStringLiteral(" ZENTA - Rejestrator temperatury  VELUTRON 32"));
  setWindowIcon(QIcon(":/velutron/velutron.png"));
  QPalette p = palette();
  p.setColor(QPalette::Window, look::kSilver);
  setPalette(p);
  setAutoFillBackground(true);

  BuildForm();
  BuildMenu();
  ui_.Attach(ViewCSV, ProgressBar1);

  resize(kOuterWidth - look::kAssumedFrameWidth, kOuterHeight - look::kAssumedFrameHeight);
  setMaximumSize(kOuterWidth - look::kAssumedFrameWidth, kMaxOuterHeight - look::kAssumedFrameHeight);
  // Never smaller than the form: the buttons keep their room.
  setMinimumSize(size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect outer(0, 0, kOuterWidth, kOuterHeight);
    const QPoint topLeft = screen->availableGeometry().center() - outer.center();
    move(topLeft);
  }
}

TForm1::~TForm1() = default;

void TForm1::BuildForm() {
  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setFont(look::MsSansSerif(13, true));
  QPalette cp = client->palette();
  cp.setColor(QPalette::WindowText, look::kNavy);
  client->setPalette(cp);
  setCentralWidget(client);

  ViewCSV = new QTextEdit(client);
  ViewCSV->setObjectName("ViewCSV");
  ViewCSV->setGeometry(0, 0, 641, 313);
  ViewCSV->setFrameStyle(QFrame::Box | QFrame::Plain);
  ViewCSV->setFont(look::Courier(15, true));
  ViewCSV->setLineWrapMode(QTextEdit::NoWrap);
  ViewCSV->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ViewCSV->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ViewCSV->setAcceptRichText(false);
  QPalette vp = ViewCSV->palette();
  vp.setColor(QPalette::Base, look::kActiveBorder);
  vp.setColor(QPalette::Text, look::kNavy);
  ViewCSV->setPalette(vp);
  ViewCSV->setPlainText(QStringLiteral("Test"));
  ViewCSV->installEventFilter(this);
  // The view shows the report that is printed: typing into it would print what was never measured.
  ViewCSV->setReadOnly(true);
  ViewCSV->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  client->installEventFilter(this);

  ProgressBar1 = new QProgressBar(client);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(8, 320, 625, 17);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  BitBtn1 = MakeButton("BitBtn1", "&Baza danych", {8, 344, 97, 25}, look::kPurple,
                       [this] { BitBtn1Click(session_); });
  BitBtn6 = MakeButton("BitBtn6", "&Monitoring", {112, 344, 99, 25}, look::kMonitoringRed,
                       [this] { velutron::BitBtn6Click(session_); });
  BitBtn2 = MakeButton("BitBtn2", QString::fromUtf8("&Zmień tryb"), {216, 344, 97, 25}, look::kBlue,
                       [this] { BitBtn2Click(session_); });
  BitBtn3 = MakeButton("BitBtn3", "&Ustaw czas", {320, 344, 97, 25}, look::kMaroon,
                       [this] { BitBtn3Click(session_); });
  BitBtn4 = MakeButton("BitBtn4", "&Rej. -> 1...N", {424, 344, 97, 25}, look::kGreen,
                       [this] { DownloadClick(proto::kDownloadAscending); });
  BitBtn5 = MakeButton("BitBtn5", "&Rej. -> N...1", {528, 344, 97, 25}, look::kGreen,
                       [this] { DownloadClick(proto::kDownloadDescending); });

  // Tab follows the screen: the view, the bar, then the buttons from left to right.
  QWidget* order[] = {ViewCSV, ProgressBar1, BitBtn1, BitBtn6, BitBtn2, BitBtn3, BitBtn4, BitBtn5};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

QPushButton* TForm1::MakeButton(const char* name, const QString& caption, const QRect& geometry,
                                const QColor& colour, std::function<void()> handler) {
  auto* button = new QPushButton(caption, centralWidget());
  button->setObjectName(name);
  button->setGeometry(geometry);
  button->setFont(look::MsSansSerif(13, true));
  QPalette p = button->palette();
  // The caption's colour while the button works; a disabled one keeps the style's greyed caption.
  p.setColor(QPalette::Active, QPalette::ButtonText, colour);
  p.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
  button->setPalette(p);
  // An operation that is not built yet keeps its button disabled.
  button->setEnabled(static_cast<bool>(handler));
  if (handler) connect(button, &QPushButton::clicked, this, [this, handler] { RunOperation(handler); });
  return button;
}

void TForm1::BuildMenu() {
  struct Entry {
    MenuItem item;
    std::function<void()> handler;  // none: the operation is not built yet and the item stays disabled
  };
  struct Menu {
    const char* title;
    std::vector<Entry> entries;
  };
  const Entry separator{{"", "", {}, ""}, nullptr};
  const std::vector<Menu> menus = {
      {"System",
       {
           {{"Oprogramie1", "O programie", QKeySequence("Ctrl+I"), "about"}, [this] { Oprogramie1Click(); }},
           {{"Licencja1", "Licencja", QKeySequence("Ctrl+L"), "licence"},
            [this] { Licencja1Click(session_); }},
           separator,
           {{"TESTRS2321", "Test RS-232", QKeySequence("Ctrl+T"), "test-rs232"},
            [this] { TESTRS2321Click(session_); }},
           {{"Test1Wie1", "Test 1-Wire", QKeySequence("Ctrl+V"), "test-1wire"},
            [this] { Test1Wie1Click(session_); }},
           separator,
           {{"Koniecpracy1", "Koniec pracy", QKeySequence("Ctrl+X"), "quit"},
            [this] { Koniecpracy1Click(); }},
       }},
      {"Bazy danych",
       {
           {{"Wyczy1", "Wyczyść bufor", QKeySequence("Ctrl+Del"), "clear"},
            [this] { Wyczy1Click(session_); }},
           {{"Wydrukbufora1", "Wydruk bufora", QKeySequence("Ctrl+P"), "print"},
            [this] { Wydrukbufora1Click(session_); }},
           {{"Przegldbazdanych1", "Przegląd baz danych", QKeySequence("F3"), "database", true},
            [this] { BitBtn1Click(session_); }},
           {{"Wykresbazydanych1", "Wykres bazy danych", QKeySequence("Ctrl+G"), "chart"},
            [this] { Wykresbazydanych1Click(); }},
           {{"Eksportdoarkusza1", "Eksport do arkusza…", QKeySequence("Ctrl+E"), "database"},
            WorkbookAvailable() ? std::function<void()>([this] {
              Eksportdoarkusza1Click(session_, [this](const std::string& proposed) {
                return AskWorkbookFile(this, proposed, [this](QDialog& d) { return ui_.Exec(d); });
              });
            })
                                : nullptr},
#ifdef VELUTRON_ARCHIVE
           {{"Archiwum1", "Archiwum", {}, "chart"}, [this] { ArchiwumClick(); }},
           {{"Archiwizuj1", "Archiwizuj bazę danych…", {}, "database"}, [this] { ArchiwizujClick(); }},
#endif
           separator,
           {{"Resetuk1", "Reset rejestratora", QKeySequence("Ctrl+R"), "reset"},
            [this] { Resetuk1Click(session_); }},
           separator,
           {{"Wykasujpomiary1", "Wykasuj pomiary !", QKeySequence("Ctrl+K"), "erase"},
            [this] { Wykasujpomiary1Click(session_); }},
       }},
      {"Operacje",
       {
           {{"Zmianatrybupracy1", "Zmiana trybu pracy", QKeySequence("F4"), "mode"},
            [this] { BitBtn2Click(session_); }},
           {{"UstawczaszPC1", "Ustaw czas z PC", QKeySequence("F5"), "clock"},
            [this] { BitBtn3Click(session_); }},
           separator,
           {{"Nadzrpomiaru1", "Kontrola pomiaru", QKeySequence("F6"), "supervisor"},
            [this] { Nadzrpomiaru1Click(session_); }},
           {{"Nazwapktpomiar1", "Nazwa pkt. pomiaru", QKeySequence("F7"), "point-name"},
            [this] { Nazwapktpomiar1Click(session_); }},
           separator,
           {{"Wczytajpomiaryod1don1", "Wczytaj pomiary od 1 do n", QKeySequence("F8"), "download-ascending"},
            [this] { DownloadClick(proto::kDownloadAscending); }},
           {{"Wczytajpomiaryodndo11", "Wczytaj pomiary od n do 1", QKeySequence("F9"), "download-descending"},
            [this] { DownloadClick(proto::kDownloadDescending); }},
       }},
      {"Parametry",
       {
           {{"Parametryrejestratora1", "Parametry rejestratora", QKeySequence("F1"), "logger-params"},
            [this] { Parametryrejestratora1Click(session_); }},
           {{"Parametryczujnika1", "Parametry czujnika", QKeySequence("F2"), "sensor-params"},
            [this] { Parametryczujnika1Click(session_); }},
           separator,
           {{"Monitoringrejestratora1", "Monitoring rejestratora", QKeySequence("F10"), "monitor", true},
            [this] { velutron::BitBtn6Click(session_); }},
           separator,
           {{"Zapisobrazurej1", "Zapis obrazu pamięci", QKeySequence("Ctrl+S"), "image-save"},
            [this] { Zapisobrazurej1Click(session_); }},
           {{"Wczytanieobrazurej1", "Wczytanie obrazu pamięci", QKeySequence("Ctrl+W"), "image-load"},
            [this] { Wczytanieobrazurej1Click(session_); }},
       }},
      {"Serwis",
       {
           {{"Formatowanieukadu1", "Formatowanie pamięci !!!", {}, "format"},
            [this] { Formatowanieukadu1Click(session_); }},
           separator,
           {{"Liczbaczujnikw1", "Liczba czujników", {}, "sensor-count"},
            [this] { Liczbaczujnikw1Click(session_); }},
           {{"Deklarowanieczujnika1", "Deklarowanie czujnika", {}, "sensor-declare"},
            [this] { Deklarowanieczujnika1Click(session_); }},
           separator,
           {{"Wpislicencji1", "Wpis użytkownika", {}, "owner"}, [this] { Wpislicencji1Click(session_); }},
           {{"Wpisnrserii1", "Wpis numeru seryjnego", {}, "serial"}, [this] { Wpisnrserii1Click(session_); }},
       }},
  };

  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  bar->setFont(QApplication::font("QMenuBar"));
  for (const Menu& m : menus) {
    QMenu* menu = bar->addMenu(QString::fromUtf8(m.title));
    menu->setFont(QApplication::font("QMenu"));
    for (const Entry& e : m.entries) {
      if (*e.item.name == '\0') {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QIcon(QStringLiteral(":/velutron/%1.png").arg(e.item.picture)),
                                        QString::fromUtf8(e.item.caption));
      action->setObjectName(e.item.name);
      action->setShortcut(e.item.shortcut);
      action->setShortcutContext(Qt::WindowShortcut);
      if (e.item.isDefault) {
        QFont f = menu->font();
        f.setBold(true);
        action->setFont(f);
      }
      action->setEnabled(static_cast<bool>(e.handler));
      if (e.handler) connect(action, &QAction::triggered, this, [this, h = e.handler] { RunOperation(h); });
    }
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (activated_) return;
  activated_ = true;
  // Deferred so the window is on screen before the start-up's dialogs.
  QTimer::singleShot(0, this, [this] {
    FitOuterFrame();
    RunOperation([this] { OpenCommClick(); });
  });
}

void TForm1::RunOperation(const std::function<void()>& handler) {
  if (busy_) return;
  busy_ = true;
  handler();
  busy_ = false;
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The close box waits until the running operation is over; the window stays as it was.
  if (busy_) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TForm1::FitOuterFrame() {
  const QSize frame = frameGeometry().size() - geometry().size();
  // Without a reported frame (no window manager) the assumed classic frame stays in the sizes.
  if (frame.isEmpty()) return;
  setMaximumSize(kOuterWidth - frame.width(), kMaxOuterHeight - frame.height());
  setMinimumSize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
  resize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
}

void TForm1::FollowHeight() {
  // The form's places at its own height, which is the window's least; what the window gains above it goes
  // to the report view.
  const int extra = std::max(0, height() - minimumHeight());
  ViewCSV->setGeometry(0, 0, 641, 313 + extra);
  ProgressBar1->move(8, 320 + extra);
  for (QPushButton* b : {BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn5, BitBtn6}) b->move(b->x(), 344 + extra);
}

void TForm1::OpenCommClick() {
  std::optional<std::string_view> argument;
  if (firstArgument_) argument = *firstArgument_;
  velutron::OpenCommClick(session_, argument);
}

void TForm1::Oprogramie1Click() { ui_.ShowAboutBox(); }

void TForm1::Wykresbazydanych1Click() {
  const auto chosen = velutron::Wykresbazydanych1Click(session_);
  if (!chosen) return;
  ChartWindow window(chosen->contents, QFileInfo(QString::fromStdString(chosen->path)).fileName(), ui_, this);
  ui_.Exec(window);
}

void TForm1::DownloadClick(uint8_t command) {
  Load_Dat(session_, command);
#ifdef VELUTRON_ARCHIVE
  // After the download's own questions: the file saved may go into the archive as well.
  const std::string saved = session_.report.LastDownload;
  if (saved.empty() || !ui_.AskOkCancel("Archiwizacja", "Czy dodać pobrane pomiary do archiwum?")) return;
  archive::ArchiveDatabaseFiles(session_, archive::kDefaultArchive, {saved});
#endif
}

#ifdef VELUTRON_ARCHIVE
void TForm1::ArchiwumClick() {
  ArchiveWindow window(Utf8FromPath(session_.InWorkDir(archive::kDefaultArchive)), "", ui_, this);
  if (window.Opened()) ui_.Exec(window);
}

void TForm1::ArchiwizujClick() {
  QFileDialog dialog(this, QStringLiteral("Archiwizuj bazę danych"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setDirectory(QString::fromStdString(Utf8FromPath(session_.workDir)));
  dialog.setNameFilter(QStringLiteral("Bazy danych rejestratora (*.dat *.DAT)"));
  if (ui_.Exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  std::vector<std::string> files;
  for (const QString& f : dialog.selectedFiles())
    files.push_back(QFileInfo(f).absoluteFilePath().toStdString());
  archive::ArchiveDatabaseFiles(session_, archive::kDefaultArchive, files);
}
#endif

void TForm1::Koniecpracy1Click() {
  if (velutron::Koniecpracy1Click(session_)) QCoreApplication::exit(0);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) FollowHeight();
  // The menu's shortcuts come before the view's own editing keys (Ctrl+X, Ctrl+V, Ctrl+Del).
  if (watched == ViewCSV && event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    for (const QAction* action : findChildren<QAction*>()) {
      if (!action->shortcut().isEmpty() && action->shortcut() == pressed) {
        event->ignore();
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace velutron
