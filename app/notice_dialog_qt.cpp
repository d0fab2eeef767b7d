#include "app/notice_dialog_qt.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "app/catalog.h"
#include "app/window_design.h"

namespace velmora {
namespace {

// The list shows this many lines at first; the dialog grows to hold them
// and may be made larger.
constexpr int kListLines = 12;

// A screen reader meets the notice as an alert, as it meets the system's
// message boxes, and reads it at once.
QAccessibleInterface* AsAlert(const QString&, QObject* object) {
  if (!object || !object->isWidgetType() || object->objectName() != "notice" || !qobject_cast<QDialog*>(object))
    return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::AlertMessage);
}

}  // namespace

QString NoticeHtml(const QString& text) {
  QString html;
  static const QRegularExpression words(R"((\S+)|(\s+))");
  for (auto match = words.globalMatch(text); match.hasNext();) {
    const QRegularExpressionMatch part = match.next();
    if (part.capturedLength(2)) {
      html += QString(part.captured(2)).replace("\n", "<br>");
      continue;
    }
    const QString word = part.captured(1).toHtmlEscaped();
    // A command line's -config=..., a path: kept whole on one line.
    const bool whole = word.contains('-') || word.contains('/') || word.contains('\\');
    html += whole ? "<span style=\"white-space:nowrap\">" + word + "</span>" : word;
  }
  return html;
}

NoticeDialog::NoticeDialog(const Notice& notice, QWidget* parent)
    : QDialog(parent), details_(QString::fromStdString(notice.details)) {
  static const bool read_as_alert = (QAccessible::installFactory(AsAlert), true);
  (void)read_as_alert;
  setObjectName("notice");
  setWindowTitle(design::kCaption);
  setSizeGripEnabled(true);
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* sign = new QLabel;
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  sign->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size, size));
  sign->setAlignment(Qt::AlignTop);
  top->addWidget(sign);
  auto* text = new QLabel(NoticeHtml(QString::fromStdString(notice.text)));
  text->setObjectName("text");
  text->setAccessibleName(QString::fromStdString(notice.text));
  text->setTextFormat(Qt::RichText);
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text->setMinimumWidth(480);
  top->addWidget(text, 1);
  layout->addLayout(top);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  if (!details_.isEmpty()) {
    auto* list = new QPlainTextEdit(details_);
    list->setObjectName("details");
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int lines = std::min<int>(kListLines, int(details_.count('\n')) + 1);
    list->setMinimumHeight(list->fontMetrics().lineSpacing() * std::min(lines, 4) + 12);
    list->resize(list->width(), list->fontMetrics().lineSpacing() * lines + 12);
    layout->addWidget(list, 1);
    auto* open = buttons->addButton(QString::fromStdString(Tr("Open the whole list")), QDialogButtonBox::ActionRole);
    open->setObjectName("wholeList");
    open->setAutoDefault(false);
    connect(open, &QPushButton::clicked, this, &NoticeDialog::OpenWholeList);
  }
  layout->addWidget(buttons);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setDefault(true);
  ok->setFocus();
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  // As tall as the list wants, but never past the screen.
  adjustSize();
  if (const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    resize(std::min(width(), room.width() * 9 / 10), std::min(height(), room.height() * 9 / 10));
  }
}

// The list as a text file in the user's temporary folder, opened as the
// player opens a text file.
void NoticeDialog::OpenWholeList() {
  const QString path = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                           .filePath(QString::fromStdString(Tr("Velmora Config - files not copied.txt")));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
      file.write(details_.toUtf8()) != details_.toUtf8().size() || !file.flush())
    return;
  file.close();
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace velmora
