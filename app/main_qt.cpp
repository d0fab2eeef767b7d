#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>

#include <clocale>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/app_icon.h"
#include "app/command_line.h"
#include "app/catalog.h"
#include "app/form1_qt.h"
#include "app/notices.h"
#include "finder/game_chooser.h"
#include "app/game_chooser_qt.h"
#include "finder/install_search.h"
#include "app/launcher.h"
#include "finder/remembered_game.h"
#include "app/platform_choice.h"

namespace {

// Works in `folder` from now on, as a shell's cd leaves it: PWD names the
// path given, so a game folder that is a link is still found in the Wine
// prefix it was named in.
bool EnterGameFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::current_path(folder, error);
  if (error) {
    std::cerr << "velmora: "
              << velmora::Fill(velmora::Tr("The utility cannot work in {folder}."), {{"folder", folder}}) << ' '
              << error.message() << '\n';
    return false;
  }
  setenv("PWD", std::filesystem::absolute(folder).lexically_normal().c_str(), 1);
  return true;
}

// The folder the program itself lies in.
std::string ProgramFolder() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
}

// Asks for the game folder with the folder chooser, opening in `start`
// with the installs `found` in its side bar, until the one chosen holds a
// game; empty when the player cancels.
std::string ChooseGameFolder(const std::string& start_in, const std::vector<velmora::FoundInstall>& found) {
  QString start = QString::fromStdString(start_in);
  for (;;) {
    const std::unique_ptr<QFileDialog> dialog = velmora::MakeGameChooser(start, found);
    const QString chosen = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()
                               ? dialog->selectedFiles().front()
                               : QString();
    if (chosen.isEmpty()) return "";
    if (velmora::HoldsGame(chosen.toStdString())) return chosen.toStdString();
    QMessageBox::warning(nullptr, "Velmora Config", QString::fromStdString(velmora::NoGameHere()));
    start = chosen;
  }
}

}  // namespace

int main(int argc, char** argv) {
  using velmora::CommandLine;
  setlocale(LC_ALL, "");
  velmora::UseCatalog(ProgramFolder());
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
  // A folder named that holds no game, or is gone, is asked for again.
  const auto is_folder = [](const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
  };
  const bool named_game = !line.folder.empty() && is_folder(line.folder) && velmora::HoldsGame(line.folder);
  if (named_game && !EnterGameFolder(line.folder)) return 1;
  const velmora::PlatformChoice platforms =
      velmora::ChoosePlatforms(velmora::PluginFolder(ProgramFolder(),
                                                    QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString()) +
                               "/platforms");
  if (platforms.platforms.empty()) {
    std::cerr << platforms.why_none << '\n';
    return 1;
  }
  setenv("QT_QPA_PLATFORM", platforms.platforms.c_str(), 1);
  velmora::RaiseOpenFileLimit();
  QApplication app(argc, argv);
  // The toolkit set the locale again: the catalog is looked up anew, and
  // its own words (OK, Cancel, the folder chooser's) follow the player's
  // language too.
  velmora::UseCatalog(ProgramFolder());
  QTranslator toolkit_words;
  if (toolkit_words.load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(&toolkit_words);
  app.setWindowIcon(velmora::AppIcon());
  // Started where no game is (from the application menu, in the home
  // folder), or named a folder without one, it asks for the game folder
  // before its window opens.
  if (!named_game && (!line.folder.empty() || !velmora::HoldsGame(velmora::GameFolder::Current().Root()))) {
    const std::string home = QDir::homePath().toStdString();
    const char* wine_prefix = std::getenv("WINEPREFIX");
    velmora::FinderDisk disk;
    const std::vector<velmora::FoundInstall> found =
        velmora::FindInstalls(velmora::KnownInstallPlaces(home, wine_prefix ? wine_prefix : "", disk), disk);
    std::string start = line.folder.empty() ? "" : velmora::NearestExistingFolder(line.folder, is_folder);
    if (start.empty())
      start = velmora::ChooserStart(velmora::RememberedGameFolder(),
                                    found.empty() ? velmora::LinuxChooserStart(home) : found.front().folder,
                                    velmora::ForgetGameFolder);
    const std::string chosen = ChooseGameFolder(start, found);
    if (chosen.empty()) return 0;  // cancelled: nothing done
    if (!EnterGameFolder(chosen)) return 1;
  }
  // The game remembered is started the way it was then: in the prefix the
  // player named, unless another is named now.
  const velmora::GameFolder game = velmora::GameFolder::Current();
  const std::string reached = velmora::GameFolderAsReached(game);
  const char* named_prefix = std::getenv("WINEPREFIX");
  if ((!named_prefix || !*named_prefix) && !velmora::RememberedWinePrefix().empty() &&
      velmora::FinderDisk().SameFile(velmora::RememberedGameFolder(), reached))
    setenv("WINEPREFIX", velmora::RememberedWinePrefix().c_str(), 1);
  // Confirmed: the next start outside a game folder opens the chooser here,
  // by the path the player went by.
  velmora::RememberGameFolder(reached, std::getenv("WINEPREFIX") ? std::getenv("WINEPREFIX") : "");
  velmora::Form1 form(game);
  form.setWindowIcon(velmora::AppIcon());
  if (const QScreen* screen = app.primaryScreen())
    form.move(screen->availableGeometry().center() - form.rect().center());
  form.show();
  const int status = app.exec();
  return status != 0 ? status : form.ExitStatus();
}
