#pragma once

#include <QPixmap>

#include <array>
#include <QWidget>

#include "app/commands.h"
#include "app/launcher_entry_qt.h"
#include "app/window_design.h"

class QPushButton;

namespace velmora {

// The utility's one window on Linux (Qt): a picture with four command
// buttons. A click runs its command on a worker while the window stays
// live; input that arrives meanwhile is dropped, not handled afterwards, and
// a request to close waits for the command.
class Form1 : public QWidget, private CommandWindow {
  Q_OBJECT

 public:
  // Each command opens the file system with `open_file_system`.
  explicit Form1(GameFolder game, FileSystemOpener open_file_system = OpenFileSystem,
                 QWidget* parent = nullptr);
  // The program's exit status once the window has closed.
  int ExitStatus() const { return commands_.ExitStatus(); }

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
  // What a command needs of the window.
  void ShowCopying(bool copying) override;
  void Wake() override;
  void ServeDroppingInput(const std::function<bool()>& done) override;
  void ShowProgress(const TaskProgress& progress) override;
  void Tell(const Notice& notice) override;
  void Focus(design::Button button) override;
  void SetAway(bool away) override;
  void End() override;


  QPixmap picture_;
  QPushButton* CpyFls;
  QPushButton* CRTINI;
  QPushButton* Command1;
  QPushButton* EndProgram;
  std::array<QPushButton*, 4> buttons_{};  // by design::Button
  LauncherEntry launcher_entry_;
  ButtonCommands commands_;
  bool dropping_input_ = false;
};

}  // namespace velmora
