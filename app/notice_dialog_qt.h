#pragma once

#include <QDialog>

#include "app/notice.h"

namespace velmora {

// A command's notice: its text beside a warning sign; below, when it has
// details, the whole list, a path a line, and a button that opens it in the
// player's text viewer. Resizable; OK, Enter, Space and Esc close it.
class NoticeDialog : public QDialog {
 public:
  NoticeDialog(const Notice& notice, QWidget* parent);

 private:
  void OpenWholeList();

  QString details_;
};

// Plain text as the dialog shows it: lines kept, and a word with a hyphen
// or a path separator inside (-config=..., a path) never broken there.
QString NoticeHtml(const QString& text);

}  // namespace velmora
