#include "app/notice_dialog_qt.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "app/catalog.h"
#include "app/notices.h"

// The C library's count of catalog changes: raised, its translations are
// looked up afresh, in the language LANGUAGE now names (as gettext's manual
// says to do on changing it while a program runs).
extern "C" int _nl_msg_cat_cntr;

namespace velmora {
namespace {

// The longest notices each command gives: a copy that failed for several
// causes at once, with a long list, and the longest advice of a start.
std::vector<Notice> LongestNotices() {
  const GameFolder game("/home/player/.local/share/Steam/steamapps/common/Dromvik");
  CopyOutcome copy;
  copy.copied = 5388;
  for (int i = 0; i < 300; ++i)
    copy.failures.push_back({{"ZENTOSEASON", "tracks", "GreatBritain", "GreatBritain_textures_" + std::to_string(i) + ".dat"},
                             i % 3 == 0 ? Cause::kNotAllowed : i % 3 == 1 ? Cause::kInUse : Cause::kNotFlushed});
  copy.failures.push_back({{"ZENTOSEASON", "tracks", "Monaco", "Monaco_textures.dat"}, Cause::kNotAllowed});
  copy.unlisted = {{{"season02", "tracks", "Japan"}, Cause::kFolderMissing, "/media/player/Games Disk/season02", {"season02"}}};
  LaunchOutcome runner{LaunchOutcome::Result::kManagerRunnerMissing};
  runner.manager = "Lutris";
  runner.runner = "lutris-GE-Proton8-26-x86_64";
  IniOutcome ini;
  ini.no_season_key = true;
  ini.missing_folders = {{"OPTIONSDIR", "ZENTOOPTIONS"}, {"REPLAYDIR", "ZENTOVCR"}, {"SAVEDIR", "ZENTOSAVE"}};
  ini.other_spelling = "qorvane.ini";
  return {*NoticeOf(copy, game), *NoticeOf(runner, game), *NoticeOf(LaunchOutcome{LaunchOutcome::Result::kNoWine}, game),
          *NoticeOf(ini)};
}

// Every language's notices fit a 1280 x 800 screen whole: the dialog's
// natural size, its text unclipped, its list a few lines at least.
TEST(NoticeDialogTest, TheLongestNoticesFitASmallScreenInEveryLanguage) {
  const std::string folder = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  for (const char* language : {"en", "de", "es", "fr", "it", "nl", "pl", "pt_BR"}) {
    setenv("LANGUAGE", language, 1);
    ++_nl_msg_cat_cntr;
    UseCatalog(folder);
    ASSERT_EQ(CatalogLanguage(), language);
    for (const Notice& notice : LongestNotices()) {
      NoticeDialog dialog(notice, nullptr);
      const QSize natural = dialog.sizeHint();
      EXPECT_LE(natural.width(), 1280) << language << ": " << notice.text;
      EXPECT_LE(natural.height(), 800 - 48) << language << " (a panel takes the rest): " << notice.text;
      auto* text = dialog.findChild<QLabel*>("text");
      EXPECT_GE(text->sizeHint().height(), text->heightForWidth(text->sizeHint().width()));
      if (!notice.details.empty()) EXPECT_NE(dialog.findChild<QPushButton*>("wholeList"), nullptr);
    }
  }
  unsetenv("LANGUAGE");
}

// A path or a command line is never broken inside.
TEST(NoticeDialogTest, PathsAndCommandLinesStayWholeOnALine) {
  const QString html = NoticeHtml("Add -config=Qorvane.INI to ZENTOSEASON/tracks/Monaco now.\nNext <line>");
  EXPECT_TRUE(html.contains("<span style=\"white-space:nowrap\">-config=Qorvane.INI</span>")) << html.toStdString();
  EXPECT_TRUE(html.contains("<span style=\"white-space:nowrap\">ZENTOSEASON/tracks/Monaco</span>")) << html.toStdString();
  EXPECT_TRUE(html.contains("<br>Next &lt;line&gt;")) << html.toStdString();
}

}  // namespace
}  // namespace velmora
