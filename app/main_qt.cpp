#include <QApplication>
#include <QLibraryInfo>
#include <QScreen>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/app_icon.h"
#include "app/command_line.h"
#include "app/form1_qt.h"
#include "app/platform_choice.h"

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
  if (!line.folder.empty()) {
    std::error_code error;
    std::filesystem::current_path(line.folder, error);
    if (error) {
      std::cerr << "velmora: cannot work in " << line.folder << ": " << error.message() << '\n';
      return 1;
    }
    // The path the user named, as a shell's cd leaves it: a game folder that
    // is a link is still found in the Wine prefix it was named in.
    setenv("PWD", std::filesystem::absolute(line.folder).lexically_normal().c_str(), 1);
  }
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
  velmora::Form1 form(velmora::GameFolder::Current());
  form.setWindowIcon(velmora::AppIcon());
  if (const QScreen* screen = app.primaryScreen())
    form.move(screen->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
