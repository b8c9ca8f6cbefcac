// SPDX-License-Identifier: MIT
// vu30-qt-host: a reference station host on Qt. It loads libvu30.so, hands
// GetVU30 its main window and the dispenser simulator's port dispatcher, opens
// a few posts, and lets the driver add its entry under the "&ТРК" menu. The
// window shows each post's type and factor as cnf.INI holds them and the
// driver's state code, refreshed after the driver's dialog closes. The
// operator plays the customer on the selected post (lift nozzle 1, start a
// 10 L sale, hang up) and watches the simulated dispenser's phase, its last
// sale and its counter; the simulator is reached through its public library
// and header only (vu30_sim.h).
//
//   vu30-qt-host --help                     (the options; needs no display)
//   vu30-qt-host [--library PATH] [--windir DIR] [--posts N]
//   vu30-qt-host --render-dialog FILE.png   (offscreen; renders the dialog)
//   vu30-qt-host --render-window FILE.png   (offscreen; renders the main window)
#include <dlfcn.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "forecourt.h"
#include "qt_menu_items.h"
#include "vu30.h"
#include "vu30_sim.h"

namespace {

struct Options {
  std::string library = VU30_DEFAULT_LIBRARY;
  std::string windir;
  std::string renderFile;
  std::string windowFile;
  int posts = 4;
};

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vu30-qt-host [options]\n"
               "A station window on simulated dispensers: loads the driver library, opens the\n"
               "posts and lets the driver add its entry to the \"ТРК\" menu, which opens the\n"
               "port type dialog. The window shows each post's type and impulses factor as\n"
               "cnf.INI holds them and the driver's state code.\n"
               "\n"
               "  --library PATH        driver library to load (default %s)\n"
               "  --posts N             posts to open, 1..30 (default 4)\n"
               "  --windir DIR          Windows directory: where cnf.INI is read and saved\n"
               "                        (default $WINDIR, else ~/.local/share/vu30-qt-host)\n"
               "  --render-dialog FILE  offscreen, with a scratch cnf.INI: save a picture of\n"
               "                        the port type dialog (PNG) and exit\n"
               "  --render-window FILE  offscreen, with a scratch cnf.INI: save a picture of\n"
               "                        the main window (PNG) and exit\n"
               "  --help                this text\n"
               "Qt's own options (-platform NAME, -style NAME, ...) are passed on to Qt.\n",
               VU30_DEFAULT_LIBRARY);
}

enum class Parsed { Run, Help, Bad };

// Reads the command line before the application object exists, so that
// --help and mistakes need no display. Single-dash arguments are Qt's own
// and are left to QApplication, together with their value.
Parsed ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") return Parsed::Help;
    if (arg == "--library" && hasValue) {
      options.library = argv[++i];
    } else if (arg == "--windir" && hasValue) {
      options.windir = argv[++i];
    } else if (arg == "--render-dialog" && hasValue) {
      options.renderFile = argv[++i];
    } else if (arg == "--render-window" && hasValue) {
      options.windowFile = argv[++i];
    } else if (arg == "--posts" && hasValue) {
      char* end = nullptr;
      const char* value = argv[++i];
      const long posts = std::strtol(value, &end, 10);
      if (end == value || *end != '\0' || posts < 1 || posts > 30) return Parsed::Bad;
      options.posts = static_cast<int>(posts);
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
      if (hasValue && argv[i + 1][0] != '-') ++i;  // a Qt option's value
    } else {
      return Parsed::Bad;
    }
  }
  return Parsed::Run;
}

std::string CnfIni() {
  return QDir(qEnvironmentVariable("WINDIR")).filePath("cnf.INI").toStdString();
}

// The integer keys of cnf.INI's [COMTypeTRK] section, by upper-case name,
// read the way the driver reads them: a whole decimal number or nothing.
QHash<QString, int> PortTypeKeys() {
  QHash<QString, int> keys;
  QFile file(QString::fromStdString(CnfIni()));
  if (!file.open(QIODevice::ReadOnly)) return keys;
  bool inSection = false;
  bool seen = false;
  while (!file.atEnd()) {
    const QString line = QString::fromLatin1(file.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('[')) && line.contains(QLatin1Char(']'))) {
      if (seen) break;  // only the first section of the name counts
      inSection = line.mid(1, line.indexOf(QLatin1Char(']')) - 1)
                      .trimmed()
                      .compare(QLatin1String("COMTypeTRK"), Qt::CaseInsensitive) == 0;
      seen = inSection;
    } else if (inSection && !line.startsWith(QLatin1Char(';'))) {
      const qsizetype equals = line.indexOf(QLatin1Char('='));
      if (equals <= 0) continue;
      bool ok = false;
      const int value = line.mid(equals + 1).trimmed().toInt(&ok);
      const QString name = line.left(equals).trimmed().toUpper();
      if (ok && !keys.contains(name)) keys.insert(name, value);
    }
  }
  return keys;
}

std::optional<int> PortTypeKey(const QHash<QString, int>& keys, int post, const char* suffix) {
  const QString name = QStringLiteral("COM_%1_%2").arg(post).arg(QLatin1String(suffix));
  const auto it = keys.find(name);
  if (it == keys.end()) return std::nullopt;
  return *it;
}

QString ErrorText(const std::exception& e) { return FromCp1251(e.what()); }

// The library, loaded once and kept for the life of the process: the host's
// menu keeps the driver's click handler, which lives in the library.
class Library {
 public:
  explicit Library(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load ") + dlerror());
    getVU30_ = reinterpret_cast<Vu30GetVU30Fn>(dlsym(handle_, "GetVU30"));
    if (getVU30_ == nullptr) throw std::runtime_error(path + " does not export GetVU30");
  }
  Vu30GetVU30Fn GetVU30() const { return getVU30_; }

 private:
  void* handle_ = nullptr;
  Vu30GetVU30Fn getVU30_ = nullptr;
};

// The driver object, destroyed through its slot 25.
struct DriverDeleter {
  void operator()(Vu30Driver* driver) const { driver->table->Destroy(driver); }
};
using DriverPtr = std::unique_ptr<Vu30Driver, DriverDeleter>;

class HostWindow : public QMainWindow {
 public:
  HostWindow(const Options& options, vu30::host::Forecourt& sim) : options_(options), sim_(sim) {
    setWindowTitle(QStringLiteral("vu30 — станция (эталонный хост)"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->addAction(QStringLiteral("В&ыход"), this, &QWidget::close);
    trkMenu_ = menuBar()->addMenu(QStringLiteral("&ТРК"));
    trkMenu_->addAction(QStringLiteral("&Обновить показания"), this, [this] { Refresh(); });
    trkMenu_->addSeparator();
    // Every choice in the dispenser menu may have changed the configuration.
    connect(trkMenu_, &QMenu::triggered, this, [this] { SyncSimulator(), Refresh(); });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    posts_ = new QTreeWidget(central);
    posts_->setRootIsDecorated(false);
    posts_->setHeaderLabels({QStringLiteral("Пост"), QStringLiteral("Тип ТРК (cnf.INI)"),
                             QStringLiteral("Имп/л"), QStringLiteral("Состояние (GetPumpState)"),
                             QStringLiteral("ТРК"), QStringLiteral("Последний отпуск"),
                             QStringLiteral("Счётчик 1")});
    layout->addWidget(posts_);
    // The customer at the selected post, and the cashier's start.
    auto* customer = new QHBoxLayout();
    auto* lift = new QPushButton(QStringLiteral("Снять пистолет 1"), central);
    auto* start = new QPushButton(QStringLiteral("Пуск: 10 л"), central);
    auto* hangUp = new QPushButton(QStringLiteral("Повесить пистолет"), central);
    connect(lift, &QPushButton::clicked, this,
            [this] { Act([this](int post) { sim_.LiftNozzle(post, 1); }); });
    connect(start, &QPushButton::clicked, this, [this] {
      Act([this](int post) {
        driver_->table->PresetVolume(driver_.get(), post, 0, 1, 0, 10.0);
        driver_->table->StartPump(driver_.get(), post, 0, 0);
      });
    });
    connect(hangUp, &QPushButton::clicked, this,
            [this] { Act([this](int post) { sim_.HangUp(post); }); });
    customer->addWidget(lift);
    customer->addWidget(start);
    customer->addWidget(hangUp);
    layout->addLayout(customer);
    // The sale moves on by itself: the view follows it.
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
      if (driver_ && isVisible()) Refresh();
    });
    timer->start(500);
    layout->addWidget(new QLabel(QStringLiteral("cnf.INI:"), central));
    fileView_ = new QPlainTextEdit(central);
    fileView_->setReadOnly(true);
    layout->addWidget(fileView_);
    auto* refresh = new QPushButton(QStringLiteral("Обновить"), central);
    connect(refresh, &QPushButton::clicked, this, [this] { Refresh(); });
    layout->addWidget(refresh);
    setCentralWidget(central);
    resize(820, 480);
  }

  // Loads the driver with this window as owner, opens the posts and adds the
  // driver's menu entry.
  void Start(const Library& library) {
    SyncSimulator();
    driver_.reset(library.GetVU30()(0, this, sim_.Dispatcher()));
    for (int post = 1; post <= options_.posts; ++post)
      driver_->table->OpenPost(driver_.get(), post);
    menuTree_ = std::make_unique<vu30::hostqt::QtMenuTree>(menuBar());
    driver_->table->AddMenuEntry(driver_.get(), menuTree_->Root(),
                                 vu30::hostqt::QtMenuTree::CreateItem);
    statusBar()->showMessage(QStringLiteral("cnf.INI: ") + QString::fromStdString(CnfIni()));
    Refresh();
  }

  // The action the driver added under "&ТРК" (the last one), if any.
  QAction* DriverAction() const {
    const QList<QAction*> actions = trkMenu_->actions();
    return actions.size() > 2 ? actions.back() : nullptr;
  }

  void Stop() { driver_.reset(); }

  // Shows the types in cnf.INI and the driver's state code of each post.
  void Refresh() {
    const QHash<QString, int> ini = PortTypeKeys();
    static const char* const kNames[] = {"ЕС-2000", "FAS", "ER3/2", "ER112"};
    static const char* const kPhases[] = {"пистолет повешен", "запрос цены", "ждёт пуска",
                                          "запрос дозы",      "отпуск",      "отчёт"};
    const int selected = SelectedPost();
    posts_->clear();
    for (int post = 1; post <= options_.posts; ++post) {
      const auto type = PortTypeKey(ini, post, "TYPE");
      const auto impl = PortTypeKey(ini, post, "IMPL");
      QString state;
      try {
        const uint32_t code =
            driver_ ? driver_->table->GetPumpState(driver_.get(), static_cast<uint8_t>(post), 0)
                    : 0;
        state = QStringLiteral("0x%1 (%2)").arg(code, 2, 16, QLatin1Char('0')).arg(code);
      } catch (const std::exception& e) {
        state = ErrorText(e);
      }
      auto* item = new QTreeWidgetItem(posts_);
      item->setText(0, QString::number(post));
      item->setText(1, !type                       ? QStringLiteral("—")
                       : (*type >= 0 && *type < 4) ? QString::fromUtf8(kNames[*type])
                                                   : QString::number(*type));
      item->setText(2, impl ? QString::number(*impl) : QStringLiteral("—"));
      item->setText(3, state);
      const int32_t phase = sim_.Phase(post);
      item->setText(4, QString::fromUtf8(phase >= 0 && phase < 6 ? kPhases[phase] : "?"));
      if (const uint32_t sales = sim_.SaleCount(post); sales > 0) {
        const Vu30SimSale sale = sim_.Sale(post, sales - 1);
        item->setText(5, QStringLiteral("%1 л × %2 = %3")
                             .arg(static_cast<double>(sale.volume) / 100.0, 0, 'f', 2)
                             .arg(sale.price / 100.0, 0, 'f', 2)
                             .arg(static_cast<double>(sale.money) / 100.0, 0, 'f', 2));
      }
      item->setText(6, QString::number(static_cast<double>(sim_.Counter(post, 1)) / 100.0, 'f', 2));
      if (post == selected) posts_->setCurrentItem(item);
    }
    QFile file(QString::fromStdString(CnfIni()));
    fileView_->setPlainText(file.open(QIODevice::ReadOnly) ? FromCp1251(file.readAll().constData())
                                                           : QStringLiteral("(файла нет)"));
  }

 private:
  // The post of the selected row (1 when none is selected).
  int SelectedPost() const {
    const QTreeWidgetItem* item = posts_->currentItem();
    return item != nullptr ? item->text(0).toInt() : 1;
  }

  // Does what the operator asked on the selected post; a refusal goes to
  // the status bar.
  template <typename F>
  void Act(F f) {
    try {
      if (driver_) f(SelectedPost());
      statusBar()->clearMessage();
    } catch (const std::exception& e) {
      statusBar()->showMessage(ErrorText(e));
    }
    Refresh();
  }

  // The simulated dispensers are of the types cnf.INI gives their ports.
  void SyncSimulator() {
    const QHash<QString, int> ini = PortTypeKeys();
    for (int post = 1; post <= options_.posts; ++post) {
      Vu30SimPostConfig config{0, 100, 4, 2000};
      const int type = PortTypeKey(ini, post, "TYPE").value_or(0);
      const int impulses = PortTypeKey(ini, post, "IMPL").value_or(100);
      config.portType = type >= 0 && type <= 3 ? static_cast<uint32_t>(type) : 0;
      config.impulsesPerLitre =
          impulses >= 1 && impulses <= 255 ? static_cast<uint32_t>(impulses) : 100;
      config.flowRate = 200;  // 2 L/s: slow enough to watch
      sim_.ConfigurePost(post, config);
    }
  }

  const Options& options_;
  vu30::host::Forecourt& sim_;
  QMenu* trkMenu_ = nullptr;
  QTreeWidget* posts_ = nullptr;
  QPlainTextEdit* fileView_ = nullptr;
  std::unique_ptr<vu30::hostqt::QtMenuTree> menuTree_;
  DriverPtr driver_;
};

// Opens the driver's dialog through its menu entry, photographs it and closes it.
bool RenderDialog(HostWindow& window, const QString& file) {
  QAction* entry = window.DriverAction();
  if (entry == nullptr) {
    std::fputs("vu30-qt-host: the driver added no menu entry\n", stderr);
    return false;
  }
  bool saved = false;
  QTimer::singleShot(200, [&] {
    auto* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) return;
    if (auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("LV"))) {
      if (list->topLevelItemCount() > 1) list->setCurrentItem(list->topLevelItem(1));
    }
    saved = dialog->grab().save(file);
    dialog->close();
  });
  entry->trigger();  // returns when the dialog has closed
  if (!saved) std::fprintf(stderr, "vu30-qt-host: could not render to %s\n", qPrintable(file));
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  switch (ParseArguments(argc, argv, options)) {
    case Parsed::Help:
      Usage(stdout);
      return 0;
    case Parsed::Bad:
      Usage(stderr);
      return 2;
    case Parsed::Run:
      break;
  }
  const bool render = !options.renderFile.empty() || !options.windowFile.empty();
  if (render && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  // The Windows directory, where cnf.INI lives: given, inherited, or our own.
  QTemporaryDir scratch;
  if (render) {
    // A scratch configuration with one port of each type.
    const QString ini = QDir(scratch.path()).filePath(QStringLiteral("cnf.INI"));
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(
        "[COMTypeTRK]\r\nCOM_1_TYPE=0\r\nCOM_1_IMPL=100\r\nCOM_2_TYPE=1\r\nCOM_2_IMPL=50\r\n"
        "COM_3_TYPE=2\r\nCOM_3_IMPL=100\r\nCOM_4_TYPE=3\r\nCOM_4_IMPL=25\r\n");
    file.close();
    qputenv("WINDIR", scratch.path().toLocal8Bit());
  } else if (!options.windir.empty()) {
    qputenv("WINDIR", QByteArray::fromStdString(options.windir));
  } else if (qEnvironmentVariableIsEmpty("WINDIR")) {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    qputenv("WINDIR", dir.toLocal8Bit());
  }

  try {
    const Library library(options.library);
    Vu30SimOptions simOptions = vu30::host::Forecourt::DefaultOptions();
    simOptions.baud = 0;  // instant frames: the window stays responsive
    vu30::host::Forecourt sim(simOptions);
    HostWindow window(options, sim);
    window.Start(library);
    int result = 0;
    if (render) {
      if (!options.renderFile.empty()) {
        result = RenderDialog(window, QString::fromStdString(options.renderFile)) ? 0 : 1;
      }
      if (!options.windowFile.empty()) {
        window.show();
        window.Refresh();
        if (!window.grab().save(QString::fromStdString(options.windowFile))) result = 1;
      }
    } else {
      window.show();
      result = QApplication::exec();
    }
    sim.ForgetCallbacks();  // no more calls into the driver,
    window.Stop();          // which goes before the simulator it talks to
    return result;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vu30-qt-host: %s\n", qPrintable(ErrorText(e)));
    if (!render) QMessageBox::critical(nullptr, QStringLiteral("vu30-qt-host"), ErrorText(e));
    return 1;
  }
}
