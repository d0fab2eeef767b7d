#pragma once

#include <QPixmap>
#include <QWidget>

#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/listings.h"
#include "platform/string_list.h"

class QPushButton;

namespace velmora {

// The utility's one window: a picture with four command buttons. Each click
// runs its command to the end before the window takes any other input.
class Form1 : public QWidget {
  Q_OBJECT

 public:
  // Each command opens the file system with `open_file_system`.
  explicit Form1(GameFolder game, FileSystemOpener open_file_system = OpenFileSystem,
                 QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPushButton* AddButton(const char* name, const char* caption, int left, int top, int width,
                         int height);
  void CpyFls_Click();
  void CRTINI_Click();
  void Command1_Click();
  void EndProgram_Click();
  void CopyFiles();
  void CreateConfigINI();
  // Disables or enables "Copy files", "Create INI-file" and "Close", and
  // shows it at once: the command keeps the event loop waiting.
  void SetCopying(bool copying);
  void EndUtility();

  GameFolder game_;
  FileSystemOpener open_file_system_;
  QPixmap picture_;
  QPushButton* CpyFls;
  QPushButton* CRTINI;
  QPushButton* Command1;
  QPushButton* EndProgram;

  // Working data of the commands; never shown.
  StringList NotCopy;
  StringList Dirs;
  StringList Dirs2;
  StringList NewIni;
  FileListing File1;
  FolderListing Dir1;
};

}  // namespace velmora
