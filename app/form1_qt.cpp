#include "app/form1_qt.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>

#include "app/notice_dialog_qt.h"


namespace velmora {
namespace {

// Qt lays out in pixels at 96 dots per inch and scales for the screen itself.
constexpr int Pixels(int twips) { return design::ToPixels(twips, 96); }

QColor ToQColor(design::Colour colour) { return QColor(colour.red, colour.green, colour.blue); }

QString ButtonStyle() {
  const QString face = ToQColor(design::kButtonFace).name();
  return "QPushButton { background-color: " + face + "; color: black;"
         "  border-style: outset; border-width: 2px;"
         "  border-color: rgb(232, 232, 255) rgb(96, 96, 160) rgb(96, 96, 160) rgb(232, 232, 255); }"
         "QPushButton:focus { border-color: black; border-style: solid; }"
         "QPushButton:pressed { border-style: inset; background-color: rgb(176, 176, 240); }"
         "QPushButton:disabled { color: rgb(128, 128, 160); }";
}

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ShortcutOverride:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

// The window as assistive technology sees it: a frame named by its title,
// as a main window is, not the "filler" a plain widget is taken for.
QAccessibleInterface* AccessibleWindow(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String(Form1::staticMetaObject.className()) || !object->isWidgetType()) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

}  // namespace

Form1::Form1(GameFolder game, FileSystemOpener open_file_system, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      picture_(":/background.bmp"),
      commands_(std::move(game), std::move(open_file_system), *this) {
  static const bool accessible = (QAccessible::installFactory(AccessibleWindow), true);
  (void)accessible;
  setWindowTitle(design::kCaption);
  setFixedSize(Pixels(design::kClientWidth), Pixels(design::kClientHeight));
  setStyleSheet(ButtonStyle());

  CpyFls = AddButton(design::kButtons[design::kCpyFls]);
  CRTINI = AddButton(design::kButtons[design::kCRTINI]);
  Command1 = AddButton(design::kButtons[design::kCommand1]);
  EndProgram = AddButton(design::kButtons[design::kEndProgram]);
  buttons_ = {CpyFls, CRTINI, Command1, EndProgram};
  for (std::size_t i = 1; i < design::kTabOrder.size(); ++i)
    setTabOrder(buttons_[design::kTabOrder[i - 1]], buttons_[design::kTabOrder[i]]);
  buttons_[design::kTabOrder[0]]->setFocus();

  connect(CpyFls, &QPushButton::clicked, this, &Form1::CpyFls_Click);
  connect(CRTINI, &QPushButton::clicked, this, &Form1::CRTINI_Click);
  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(EndProgram, &QPushButton::clicked, this, &Form1::EndProgram_Click);
}

QPushButton* Form1::AddButton(const design::ButtonDesign& design) {
  auto* button = new QPushButton(design.caption, this);
  button->setObjectName(design.name);
  button->setGeometry(Pixels(design.left), Pixels(design.top), Pixels(design.width), Pixels(design.height));
  button->setAutoDefault(false);
  button->setFocusPolicy(Qt::StrongFocus);
  button->installEventFilter(this);
  return button;
}

void Form1::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), ToQColor(design::kStrip));
  painter.drawPixmap(0, 0, picture_);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (dropping_input_ && IsUserInput(event->type())) return true;
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

void Form1::EndProgram_Click() { commands_.Press(design::kEndProgram); }
void Form1::Command1_Click() { commands_.Press(design::kCommand1); }
void Form1::CopyFiles() { commands_.Press(design::kCpyFls); }
void Form1::CreateConfigINI() { commands_.Press(design::kCRTINI); }

void Form1::closeEvent(QCloseEvent* event) {
  if (commands_.DeferClose()) event->ignore();
}

void Form1::End() {
  hide();
  QCoreApplication::exit(0);
}

void Form1::SetAway(bool away) {
  if (away) {
    hide();
    return;
  }
  show();
  raise();
  activateWindow();
}

void Form1::ShowCopying(bool copying) {
  // A greyed button that has the focus would hand it to the next one in the
  // tab chain, where a key could reach it later; the window keeps it meanwhile.
  if (copying && focusWidget() && focusWidget() != Command1) setFocus(Qt::OtherFocusReason);
  CpyFls->setText(copying ? design::kCopyingCaption : design::kButtons[design::kCpyFls].caption);
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (design::kButtons[i].locked_while_copying) buttons_[i]->setEnabled(!copying);
  }
}

void Form1::Wake() {
  QMetaObject::invokeMethod(qApp, [] {}, Qt::QueuedConnection);
}

void Form1::ServeDroppingInput(const std::function<bool()>& done) {
  // Every widget's clicks and keys are dropped while the command runs; paint
  // events, the window manager's ping and its close request pass.
  dropping_input_ = true;
  qApp->installEventFilter(this);
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  // Input still queued now was made while the command ran.
  QCoreApplication::processEvents();
  qApp->removeEventFilter(this);
  dropping_input_ = false;
}

void Form1::ShowProgress(const TaskProgress& progress) { launcher_entry_.Show(progress); }

void Form1::Tell(const Notice& notice) {
  NoticeDialog dialog(notice, this);
  dialog.exec();
}

void Form1::Focus(design::Button button) { buttons_[button]->setFocus(Qt::OtherFocusReason); }

}  // namespace velmora
