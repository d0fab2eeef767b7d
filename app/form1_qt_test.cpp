#include "app/form1_qt.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "app/game_chooser_qt.h"
#include "platform/testing/refused_threads.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

using testing::TempGame;

// Reads each notice the window shows, as a player would, and closes it
// with Enter; records its text and where the focus went afterwards.
class NoticeReader {
 public:
  NoticeReader() {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      QWidget* box = QApplication::activeModalWidget();
      if (!box || box->objectName() != "notice" || !box->isVisible()) return;
      texts.push_back(box->findChild<QLabel*>("text")->accessibleName().toStdString());
      const auto* list = box->findChild<QPlainTextEdit*>("details");
      details.push_back(list ? list->toPlainText().toStdString() : "");
      QTest::keyClick(box, Qt::Key_Return);
    });
    poll_.start(5);
  }
  std::vector<std::string> texts;
  std::vector<std::string> details;

 private:
  QTimer poll_;
};

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  }

  QPushButton* Button(const char* name) { return form_.findChild<QPushButton*>(name); }

  // Runs the event loop with `action` queued; the exit code, or -1 when the
  // program did not end within five seconds.
  int RunUntilEnd(const std::function<void()>& action) {
    QTimer::singleShot(0, &form_, action);
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    timeout.start(5000);
    return QCoreApplication::exec();
  }

  TempGame temp_;
  Form1 form_{temp_.game()};
};

TEST_F(Form1Test, HasItsCaptionFixedClientSizeAndNoMinimizeOrMaximize) {
  EXPECT_EQ(form_.windowTitle(), "Tamsel Velmora - Config");
  EXPECT_EQ(form_.size(), QSize(399, 245));
  EXPECT_EQ(form_.minimumSize(), form_.maximumSize());
  EXPECT_FALSE(form_.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form_.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form_.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(Form1Test, ShowsFourEnabledButtonsWhereTheLayoutPutsThem) {
  struct Expected {
    const char* name;
    const char* caption;
    QRect geometry;
  };
  for (const Expected& e : {Expected{"CpyFls", "Copy files", {296, 8, 97, 25}},
                            Expected{"CRTINI", "Create INI-file", {296, 40, 97, 25}},
                            Expected{"Command1", "Run Velmora", {296, 72, 97, 41}},
                            Expected{"EndProgram", "Close", {320, 128, 73, 25}}}) {
    QPushButton* button = Button(e.name);
    ASSERT_NE(button, nullptr) << e.name;
    EXPECT_EQ(button->text(), e.caption);
    EXPECT_EQ(button->geometry(), e.geometry) << e.name;
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->text().contains('&'));
  }
}

TEST_F(Form1Test, AssistiveTechnologySeesAFrameNamedByTheCaptionWithFourPressableButtons) {
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&form_);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->role(), QAccessible::Window);
  EXPECT_EQ(window->text(QAccessible::Name), "Tamsel Velmora - Config");
  QStringList buttons;
  for (int i = 0; i < window->childCount(); ++i) {
    QAccessibleInterface* child = window->child(i);
    if (child->role() != QAccessible::Button) continue;
    buttons << child->text(QAccessible::Name);
    ASSERT_TRUE(child->actionInterface());
    EXPECT_TRUE(child->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
  }
  EXPECT_EQ(buttons, QStringList({"Copy files", "Create INI-file", "Run Velmora", "Close"}));
}

TEST_F(Form1Test, FocusStartsOnCloseAndTabCyclesInTabIndexOrder) {
  EXPECT_EQ(QApplication::focusWidget(), Button("EndProgram"));
  for (const char* next : {"CRTINI", "CpyFls", "Command1", "EndProgram"}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Button(next)) << next;
  }
}

TEST_F(Form1Test, SpaceOnTheFocusedCloseButtonEndsTheProgram) {
  EXPECT_EQ(RunUntilEnd([] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); }), 0);
}

TEST_F(Form1Test, EnterOnTheFocusedCloseButtonEndsTheProgram) {
  EXPECT_EQ(RunUntilEnd([] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }), 0);
  EXPECT_FALSE(form_.isVisible());
}

TEST_F(Form1Test, ClickingCloseEndsTheProgram) {
  EXPECT_EQ(RunUntilEnd([this] { QTest::mouseClick(Button("EndProgram"), Qt::LeftButton); }), 0);
}

TEST_F(Form1Test, TheTitleBarCloseEndsTheProgram) {
  EXPECT_EQ(RunUntilEnd([this] { form_.close(); }), 0);
}

TEST_F(Form1Test, RunVelmoraWithoutAGameKeepsTheWindowSaysWhyOnceAndTheProgramThenEndsNonZero) {
  NoticeReader reader;
  QTest::mouseClick(Button("Command1"), Qt::LeftButton);
  ASSERT_EQ(reader.texts.size(), 1u);
  EXPECT_NE(reader.texts[0].find("Dromvik.exe is not in the game folder"), std::string::npos) << reader.texts[0];
  EXPECT_TRUE(form_.isVisible());
  EXPECT_EQ(form_.focusWidget(), Button("Command1"));
  EXPECT_EQ(RunUntilEnd([this] { QTest::mouseClick(Button("EndProgram"), Qt::LeftButton); }), 0);
  EXPECT_EQ(form_.ExitStatus(), ButtonCommands::kGameNotStarted);
}

// A game that starts and fails only later, once the test has seen the
// window go: the window is gone while the start is watched, then comes back
// with the failure told; after Close the program ends non-zero. A start
// that goes well ends the program with the window never back.
TEST_F(Form1Test, RunVelmorasWindowGoesAtTheStartAndComesBackWhenTheStarterFailsLater) {
  for (const bool fail : {true, false}) {
    const std::filesystem::path release = temp_.At(fail ? "release-fail" : "release-run");
    temp_.Write("Dromvik.exe", "#!/bin/sh\nwhile [ ! -e '" + release.string() + "' ]; do sleep 0.02; done\n" +
                                   (fail ? "echo 'the game could not start' >&2\nexit 1\n" : "exit 0\n"));
    std::filesystem::permissions(temp_.At("Dromvik.exe"), std::filesystem::perms::owner_all);
    NoticeReader reader;
    bool seen_away = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (seen_away || form_.isVisible()) return;
      seen_away = true;
      temp_.Write(std::string(release.filename().string()), "");
    });
    watch.start(5);
    form_.show();
    if (fail) {
      QTest::mouseClick(Button("Command1"), Qt::LeftButton);
      EXPECT_TRUE(seen_away);
      ASSERT_EQ(reader.texts.size(), 1u);
      EXPECT_NE(reader.texts[0].find("ended with status 1.\n\nIt said:\n\nthe game could not start"), std::string::npos)
          << reader.texts[0];
      EXPECT_TRUE(form_.isVisible());
      EXPECT_EQ(form_.ExitStatus(), ButtonCommands::kGameNotStarted);
    } else {
      EXPECT_EQ(RunUntilEnd([this] { QTest::mouseClick(Button("Command1"), Qt::LeftButton); }), 0);
      EXPECT_TRUE(seen_away);
      EXPECT_TRUE(reader.texts.empty());
      EXPECT_FALSE(form_.isVisible());
      EXPECT_EQ(form_.ExitStatus(), 0);
    }
  }
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Each button's caption and whether it is enabled.
QString ButtonStates(Form1& form) {
  QString states;
  for (const char* name : {"CpyFls", "CRTINI", "Command1", "EndProgram"}) {
    auto* button = form.findChild<QPushButton*>(name);
    states += button->text() + (button->isEnabled() ? " on; " : " off; ");
  }
  return states;
}

// Holds a command at its first listing or read until the window's thread
// lets it go; with `fail`, that call then fails.
class GatedFileSystem : public FileSystemWrapper {
 public:
  GatedFileSystem(std::unique_ptr<FileSystem> real, bool fail)
      : FileSystemWrapper(*real), real_(std::move(real)), fail_(fail) {}

  Found<std::vector<Entry>> List(const GamePath& folder) override {
    Hold();
    return FileSystemWrapper::List(folder);
  }
  Found<std::string> ReadFile(const GamePath& file) override {
    Hold();
    return FileSystemWrapper::ReadFile(file);
  }

  bool Reached() {
    std::lock_guard lock(mutex_);
    return reached_;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    release_ = true;
    released_.notify_all();
  }

 private:
  void Hold() {
    {
      std::unique_lock lock(mutex_);
      reached_ = true;
      // Bounded, so that a window that never serves its loop fails the test
      // instead of hanging it.
      released_.wait_for(lock, std::chrono::seconds(10), [this] { return release_; });
    }
    if (fail_) throw std::runtime_error("injected failure");
  }

  std::unique_ptr<FileSystem> real_;
  bool fail_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool reached_ = false;
  bool release_ = false;
};

constexpr const char* kLocked = "Copying ... off; Create INI-file off; Run Velmora on; Close off; ";
constexpr const char* kIdle = "Copy files on; Create INI-file on; Run Velmora on; Close on; ";

// Presses a button with `press`, in a window whose commands are held at
// their first listing. While held, the window's own thread runs `meanwhile`
// from its event loop, which must go on running; then the command goes on.
void PressWhileServing(GatedFileSystem*& gate, const std::function<void()>& press,
                       const std::function<void()>& meanwhile) {
  bool served = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (served || !gate || !gate->Reached()) return;
    served = true;
    meanwhile();
    gate->Release();
  });
  poll.start(5);
  press();
  EXPECT_TRUE(served) << "the event loop was not served while the command ran";
}

// The same, with a click on `button`.
void ClickWhileServing(Form1& form, const char* button, GatedFileSystem*& gate,
                       const std::function<void()>& meanwhile) {
  PressWhileServing(gate, [&] { QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton); }, meanwhile);
}

// Presses a button as assistive technology does: its accessible Press
// action, which clicks it with no input event at all.
void PressAccessibly(QPushButton* button) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
  ASSERT_TRUE(accessible && accessible->actionInterface());
  accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  // The click comes once the button has been shown down for a moment.
  QTRY_VERIFY_WITH_TIMEOUT(!button->isDown(), 5000);
}

struct GatedForm {
  explicit GatedForm(const TempGame& temp, bool fail = false)
      : form(temp.game(), [this, fail](const GameFolder& game) -> std::unique_ptr<FileSystem> {
          auto fs = std::make_unique<GatedFileSystem>(OpenFileSystem(game), fail);
          gate = fs.get();
          return fs;
        }) {
    form.show();
  }
  GatedFileSystem* gate = nullptr;
  Form1 form;
};

void ExpectLockedThenUnlocked(bool fail) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  GatedForm gated(temp, fail);
  QString during;
  ClickWhileServing(gated.form, "CpyFls", gated.gate, [&] { during = ButtonStates(gated.form); });
  EXPECT_EQ(during, kLocked);
  EXPECT_EQ(ButtonStates(gated.form), kIdle);
  EXPECT_EQ(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"), !fail);
}

TEST(Form1CopyTest, CopyFilesLocksThreeButtonsWhileItRunsAndUnlocksThemAfter) {
  ExpectLockedThenUnlocked(false);
}

TEST(Form1CopyTest, CopyFilesUnlocksTheButtonsAlsoWhenTheCopyFails) {
  NoticeReader reader;
  ExpectLockedThenUnlocked(true);
  ASSERT_EQ(reader.texts.size(), 1u);
  EXPECT_NE(reader.texts[0].find("injected failure"), std::string::npos) << reader.texts[0];
}

TEST(Form1CopyTest, CopyFilesSaysOnceWhatWasNotCopiedAndWhyWhileACompleteCopySaysNothing) {
  TempGame temp;
  temp.Write("season02/tracks/season.trk", "list");
  temp.Write("season02/tracks/Spa/spa.gdb", "x");
  Form1 form(temp.game());
  form.show();
  NoticeReader reader;
  auto* copy = form.findChild<QPushButton*>("CpyFls");
  QTest::mouseClick(copy, Qt::LeftButton);
  ASSERT_EQ(reader.texts.size(), 1u);
  EXPECT_NE(reader.texts[0].find("The add-on's folder ZENTOSEASON/tracks is not in this game folder. Install "
                                 "Velmora first, then press Copy files again."),
            std::string::npos)
      << reader.texts[0];
  EXPECT_EQ(reader.details[0], "Files not copied:\nZENTOSEASON/tracks/Spa/spa.gdb (folder missing)\n"
                               "ZENTOSEASON/tracks/season.trk (folder missing)\n");
  EXPECT_EQ(form.focusWidget(), copy);
  // Installed, the copy completes and says nothing; so does a copy with everything there.
  temp.MakeFolder("ZENTOSEASON/tracks/Spa");
  QTest::mouseClick(copy, Qt::LeftButton);
  QTest::mouseClick(copy, Qt::LeftButton);
  EXPECT_EQ(reader.texts.size(), 1u);
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Spa/spa.gdb"), "x");
}

// While `button`'s command runs: a click on "Run Velmora" and keys on it
// are dropped, and a close request is carried out once the command is done.
void ExpectInputDroppedAndCloseDeferred(const TempGame& temp, const char* button) {
  GatedForm gated(temp);
  Form1& form = gated.form;
  bool visible_after_input = false;
  ClickWhileServing(form, button, gated.gate, [&] {
    auto* run = form.findChild<QPushButton*>("Command1");
    QTest::mouseClick(run, Qt::LeftButton);
    run->setFocus();
    QTest::keyClick(run, Qt::Key_Space);
    QTest::keyClick(run, Qt::Key_Return);
    visible_after_input = form.isVisible();
    form.close();
    EXPECT_TRUE(form.isVisible()) << "closed while " << button << " ran";
  });
  EXPECT_TRUE(visible_after_input) << "Run Velmora acted on while " << button << " ran";
  EXPECT_FALSE(temp.Exists("launches.log"));
  EXPECT_FALSE(form.isVisible()) << "the close was not carried out after " << button;
}

TEST(Form1CopyTest, DuringACopyClicksAndKeysAreDroppedAndACloseWaitsForTheCopy) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  ExpectInputDroppedAndCloseDeferred(temp, "CpyFls");
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
}

TEST(Form1ConfigTest, DuringCreateIniFileClicksAndKeysAreDroppedAndACloseWaitsForTheFile) {
  TempGame temp;
  temp.Write("Config.ini", "SeasonDir=season02\\\r\nSaveDir=save\\\r\n");
  temp.MakeFolder("ZENTOSAVE");
  ExpectInputDroppedAndCloseDeferred(temp, "CRTINI");
  EXPECT_EQ(temp.Read("Qorvane.ini"), "SEASONDIR=ZENTOSEASON\\\r\nSAVEDIR=ZENTOSAVE\\\r\n");
}

TEST(Form1ConfigTest, CreateIniFileWritesTheFileAndChangesNoButton) {
  TempGame temp;
  temp.Write("Config.ini", "SeasonDir=season02\\\r\nSaveDir=save\\\r\n");
  temp.MakeFolder("ZENTOSAVE");
  Form1 form(temp.game());
  form.show();
  NoticeReader reader;
  QTest::mouseClick(form.findChild<QPushButton*>("CRTINI"), Qt::LeftButton);
  EXPECT_TRUE(reader.texts.empty()) << reader.texts[0];
  EXPECT_EQ(temp.Read("Qorvane.ini"), "SEASONDIR=ZENTOSEASON\\\r\nSAVEDIR=ZENTOSAVE\\\r\n");
  EXPECT_EQ(ButtonStates(form), kIdle);
}

TEST(Form1CopyTest, AnAccessiblePressDuringACopyStartsNothingAndTheButtonsStayLockedUntilItEnds) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp.Write("Config.ini", "SeasonDir=season02\\\r\nSaveDir=save\\\r\n");
  temp.MakeFolder("ZENTOSAVE");
  GatedForm gated(temp);
  Form1& form = gated.form;
  QString after_presses;
  ClickWhileServing(form, "CpyFls", gated.gate, [&] {
    for (const char* name : {"CRTINI", "Command1", "EndProgram"})
      PressAccessibly(form.findChild<QPushButton*>(name));
    after_presses = ButtonStates(form);
  });
  EXPECT_EQ(after_presses, kLocked);
  EXPECT_EQ(ButtonStates(form), kIdle);
  EXPECT_TRUE(form.isVisible()) << "Run Velmora or Close was carried out";
  EXPECT_FALSE(temp.Exists("Qorvane.ini")) << "Create INI-file ran during the copy";
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
  // Once the copy is over, the same press works.
  gated.gate = nullptr;
  PressWhileServing(gated.gate, [&] { PressAccessibly(form.findChild<QPushButton*>("CRTINI")); }, [] {});
  QTRY_VERIFY_WITH_TIMEOUT(temp.Exists("Qorvane.ini"), 5000);
}

TEST(Form1CopyTest, AfterACopyStartedWithSpaceTheFocusIsBackOnCopyFilesAndNoOtherButtonHadItMeanwhile) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  GatedForm gated(temp);
  Form1& form = gated.form;
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  auto* copy = form.findChild<QPushButton*>("CpyFls");
  copy->setFocus();
  QWidget* focus_during = nullptr;
  PressWhileServing(gated.gate, [&] { QTest::keyClick(copy, Qt::Key_Space); },
                    [&] { focus_during = QApplication::focusWidget(); });
  EXPECT_FALSE(qobject_cast<QPushButton*>(focus_during))
      << "a button had the focus during the copy: " << (focus_during ? qPrintable(focus_during->objectName()) : "");
  EXPECT_EQ(QApplication::focusWidget(), copy);
  // The next Space copies again: a target file removed meanwhile comes back.
  std::filesystem::remove(temp.At("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
  gated.gate = nullptr;
  PressWhileServing(gated.gate, [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); }, [] {});
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(QApplication::focusWidget(), copy);
}

TEST(Form1CopyTest, WithoutAThreadForTheCommandTheCopyRunsWholeAndTheWindowStillCloses) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  testing::RefusedThreads refused({"command", "copy-helper", "flush"});
  Form1 form(temp.game());
  form.show();
  QTest::mouseClick(form.findChild<QPushButton*>("CpyFls"), Qt::LeftButton);
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
  EXPECT_EQ(ButtonStates(form), kIdle);
  EXPECT_EQ(QApplication::focusWidget(), form.findChild<QPushButton*>("CpyFls"));
  form.close();
  EXPECT_FALSE(form.isVisible()) << "the close was deferred for ever";
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// The chooser opens where it is asked to, offers each install in its side
// bar under its own name (two folders named alike told apart), and Enter
// takes the folder it opened at.
TEST(GameChooserTest, OffersEachInstallUnderItsOwnNameAndEnterTakesTheFolderItOpenedAt) {
  TempGame home;
  home.MakeFolder(".wine/drive_c/Games/Dromvik");
  home.MakeFolder("Steam/steamapps/common/Dromvik");
  const std::vector<FoundInstall> found = {{home.At(".wine/drive_c/Games/Dromvik").string(), "Dromvik (Wine: ~/.wine)"},
                                           {home.At("Steam/steamapps/common/Dromvik").string(), "Dromvik (Steam)"}};
  const QString start = QString::fromStdString(found[1].folder);
  const std::unique_ptr<QFileDialog> chooser = MakeGameChooser(start, found);
  QList<QUrl> expected_places;
  for (const FoundInstall& install : found) expected_places.push_back(QUrl::fromLocalFile(QString::fromStdString(install.folder)));
  const QList<QUrl> places = chooser->sidebarUrls();
  ASSERT_EQ(places.size(), 3);
  EXPECT_EQ(places.mid(1), expected_places);
  EXPECT_EQ(SidebarName(*chooser, 1), "Dromvik (Wine: ~/.wine)");
  EXPECT_EQ(SidebarName(*chooser, 2), "Dromvik (Steam)");
  EXPECT_TRUE(chooser->filter() & QDir::Hidden);

  chooser->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(chooser.get()));
  EXPECT_EQ(chooser->directory().absolutePath(), start);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(chooser->result(), QDialog::Accepted);
  ASSERT_FALSE(chooser->selectedFiles().isEmpty());
  EXPECT_EQ(chooser->selectedFiles().front(), start);
}

}  // namespace
}  // namespace velmora
