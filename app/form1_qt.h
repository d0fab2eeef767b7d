#pragma once

#include <QPixmap>
#include <QWidget>

#include "app/commands.h"
#include "app/window_design.h"

class QPushButton;

namespace velmora {

// The utility's one window on Linux (Qt): a picture with four command
// buttons. Each click runs its command to the end, and input that arrives
// meanwhile is dropped, not handled afterwards.
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
  QPushButton* AddButton(const design::ButtonDesign& design);
  void CpyFls_Click();
  void CRTINI_Click();
  void Command1_Click();
  void EndProgram_Click();
  void CopyFiles();
  void CreateConfigINI();
  // Disables or enables "Copy files", "Create INI-file" and "Close", and
  // shows it at once: the command keeps the event loop waiting.
  void SetCopying(bool copying);
  // Runs a command, then drops the clicks and keys that queued up meanwhile.
  void RunCommand(void (Form1::*command)());
  void EndUtility();

  GameFolder game_;
  FileSystemOpener open_file_system_;
  QPixmap picture_;
  QPushButton* CpyFls;
  QPushButton* CRTINI;
  QPushButton* Command1;
  QPushButton* EndProgram;
  WorkLists lists_;
  bool dropping_input_ = false;
};

}  // namespace velmora
