#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QScreen>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/app_icon.h"
#include "app/command_line.h"
#include "app/form1_qt.h"
#include "app/game_chooser.h"
#include "app/platform_choice.h"

namespace {

// Works in `folder` from now on, as a shell's cd leaves it: PWD names the
// path given, so a game folder that is a link is still found in the Wine
// prefix it was named in.
bool EnterGameFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::current_path(folder, error);
  if (error) {
    std::cerr << "velmora: cannot work in " << folder << ": " << error.message() << '\n';
    return false;
  }
  setenv("PWD", std::filesystem::absolute(folder).lexically_normal().c_str(), 1);
  return true;
}

// Asks for the game folder with the system's folder chooser until the one
// chosen holds a game; empty when the player cancels.
std::string ChooseGameFolder() {
  QString start = QString::fromStdString(velmora::LinuxChooserStart(QDir::homePath().toStdString()));
  for (;;) {
    const QString chosen = QFileDialog::getExistingDirectory(nullptr, velmora::kChooserTitle, start);
    if (chosen.isEmpty()) return "";
    if (velmora::HoldsGame(chosen.toStdString())) return chosen.toStdString();
    QMessageBox::warning(nullptr, "Velmora Config", velmora::kNoGameHere);
    start = chosen;
  }
}

}  // namespace

int main(int argc, char** argv) {
  using velmora::CommandLine;
  const CommandLine line = velmora::ParseCommandLine({argv + 1, argv + argc});
  switch (line.action) {
    case CommandLine::Action::kHelp:
      std::cout << velmora::UsageText();
      return 0;
    case CommandLine::Action::kVersion:
      std::cout << velmora::VersionText() << '\n';
      return 0;
    case CommandLine::Action::kMisuse:
      std::cerr << velmora::UsageText();
      return 2;
    case CommandLine::Action::kRun:
      break;
  }
  if (!line.folder.empty() && !EnterGameFolder(line.folder)) return 1;
  const velmora::PlatformChoice platforms =
      velmora::ChoosePlatforms(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms");
  if (platforms.platforms.empty()) {
    std::cerr << platforms.why_none << '\n';
    return 1;
  }
  setenv("QT_QPA_PLATFORM", platforms.platforms.c_str(), 1);
  velmora::RaiseOpenFileLimit();
  QApplication app(argc, argv);
  app.setWindowIcon(velmora::AppIcon());
  // Started where no game is (from the application menu, in the home
  // folder), it asks for the game folder before its window opens.
  if (line.folder.empty() && !velmora::HoldsGame(velmora::GameFolder::Current().Root())) {
    const std::string chosen = ChooseGameFolder();
    if (chosen.empty()) return 0;  // cancelled: nothing done
    if (!EnterGameFolder(chosen)) return 1;
  }
  velmora::Form1 form(velmora::GameFolder::Current());
  form.setWindowIcon(velmora::AppIcon());
  if (const QScreen* screen = app.primaryScreen())
    form.move(screen->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
