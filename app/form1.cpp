#include "app/form1.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>

#include "app/launcher.h"
#include "config/ini_rewriter.h"
#include "copier/copy_run.h"

namespace velmora {
namespace {

// The window's layout is kept in twips, 15 to a pixel at 96 dots per inch.
constexpr int Twips(int twips) { return twips / 15; }

constexpr const char* kButtonStyle =
    "QPushButton { background-color: rgb(192, 192, 255); color: black;"
    "  border-style: outset; border-width: 2px;"
    "  border-color: rgb(232, 232, 255) rgb(96, 96, 160) rgb(96, 96, 160) rgb(232, 232, 255); }"
    "QPushButton:focus { border-color: black; border-style: solid; }"
    "QPushButton:pressed { border-style: inset; background-color: rgb(176, 176, 240); }"
    "QPushButton:disabled { color: rgb(128, 128, 160); }";

}  // namespace

Form1::Form1(GameFolder game, FileSystemOpener open_file_system, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      game_(std::move(game)),
      open_file_system_(std::move(open_file_system)),
      picture_(":/background.bmp"),
      File1(game_),
      Dir1(game_) {
  setWindowTitle("Tamsel Velmora - Config");
  setFixedSize(Twips(5985), Twips(3675));
  setStyleSheet(kButtonStyle);

  CpyFls = AddButton("CpyFls", "Copy files", 4440, 120, 1455, 375);
  CRTINI = AddButton("CRTINI", "Create INI-file", 4440, 600, 1455, 375);
  Command1 = AddButton("Command1", "Run Velmora", 4440, 1080, 1455, 615);
  EndProgram = AddButton("EndProgram", "Close", 4800, 1920, 1095, 375);
  setTabOrder(EndProgram, CRTINI);
  setTabOrder(CRTINI, CpyFls);
  setTabOrder(CpyFls, Command1);
  EndProgram->setFocus();

  connect(CpyFls, &QPushButton::clicked, this, &Form1::CpyFls_Click);
  connect(CRTINI, &QPushButton::clicked, this, &Form1::CRTINI_Click);
  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(EndProgram, &QPushButton::clicked, this, &Form1::EndProgram_Click);
}

QPushButton* Form1::AddButton(const char* name, const char* caption, int left, int top, int width,
                              int height) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(name);
  button->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
  button->setAutoDefault(false);
  button->setFocusPolicy(Qt::StrongFocus);
  button->installEventFilter(this);
  return button;
}

void Form1::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0, 51, 153));
  painter.drawPixmap(0, 0, picture_);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  // Enter clicks the focused button, as Space does; no button is a default.
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      button->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Form1::CpyFls_Click() { CopyFiles(); }
void Form1::CRTINI_Click() { CreateConfigINI(); }
void Form1::EndProgram_Click() { EndUtility(); }

void Form1::Command1_Click() {
  LaunchGame(game_);
  EndUtility();
}

void Form1::EndUtility() {
  hide();
  QCoreApplication::exit(0);
}

void Form1::SetCopying(bool copying) {
  for (QPushButton* button : {CpyFls, CRTINI, EndProgram}) button->setEnabled(!copying);
  CpyFls->setText(copying ? "Copying ..." : "Copy files");
  for (QPushButton* button : {CpyFls, CRTINI, EndProgram}) button->repaint();
}

void Form1::CopyFiles() {
  SetCopying(true);
  try {
    const std::unique_ptr<FileSystem> fs = open_file_system_(game_);
    CopySeasonFiles(game_, *fs, {NotCopy, Dirs, Dirs2, Dir1, File1});
  } catch (...) {
    // Whatever failed is passed over like any failed copy; the window is unlocked.
  }
  SetCopying(false);
}

void Form1::CreateConfigINI() {
  try {
    CreateConfigIni(*open_file_system_(game_), NewIni);
  } catch (...) {
    // Passed over like any other failure: the old file stays as it was.
  }
}

}  // namespace velmora
