#pragma once

#include <QPixmap>
#include <QWidget>

#include "app/command_worker.h"
#include "app/commands.h"
#include "app/window_design.h"

class QPushButton;

namespace velmora {

// The utility's one window on Linux (Qt): a picture with four command
// buttons. A click runs its command on a worker while the window stays
// live; input that arrives meanwhile is dropped, not handled afterwards, and
// a request to close waits for the command.
class Form1 : public QWidget {
  Q_OBJECT

 public:
  // Each command opens the file system with `open_file_system`.
  explicit Form1(GameFolder game, FileSystemOpener open_file_system = OpenFileSystem,
                 QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPushButton* AddButton(const design::ButtonDesign& design);
  void CpyFls_Click();
  void CRTINI_Click();
  void Command1_Click();
  void EndProgram_Click();
  void CopyFiles();
  void CreateConfigINI();
  // Disables or enables "Copy files", "Create INI-file" and "Close".
  void SetCopying(bool copying);
  // Runs `work` on the worker and serves the event loop, with input dropped,
  // until it is done; ends the program then if that was asked meanwhile.
  void RunCommand(const std::function<void()>& work);
  void EndUtility();

  GameFolder game_;
  FileSystemOpener open_file_system_;
  QPixmap picture_;
  QPushButton* CpyFls;
  QPushButton* CRTINI;
  QPushButton* Command1;
  QPushButton* EndProgram;
  WorkLists lists_;
  CommandWorker worker_;
  bool dropping_input_ = false;
};

}  // namespace velmora
