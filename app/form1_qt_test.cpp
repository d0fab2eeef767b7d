#include "app/form1_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

using testing::TempGame;

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

TEST_F(Form1Test, RunVelmoraEndsTheProgramEvenWithoutAGame) {
  EXPECT_EQ(RunUntilEnd([this] { QTest::mouseClick(Button("Command1"), Qt::LeftButton); }), 0);
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

// Notes what the window shows each time the copy lists a folder.
class ObservingFileSystem : public FileSystemWrapper {
 public:
  ObservingFileSystem(std::unique_ptr<FileSystem> real, Form1& form, QStringList& seen, bool fail)
      : FileSystemWrapper(*real), real_(std::move(real)), form_(form), seen_(seen), fail_(fail) {}

  std::optional<std::vector<Entry>> List(const GamePath& folder) override {
    seen_.append(ButtonStates(form_));
    if (fail_) throw std::runtime_error("injected failure");
    return FileSystemWrapper::List(folder);
  }

 private:
  std::unique_ptr<FileSystem> real_;
  Form1& form_;
  QStringList& seen_;
  bool fail_;
};

constexpr const char* kLocked = "Copying ... off; Create INI-file off; Run Velmora on; Close off; ";
constexpr const char* kIdle = "Copy files on; Create INI-file on; Run Velmora on; Close on; ";

void ExpectLockedThenUnlocked(bool fail) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  QStringList seen;
  Form1* form_seen = nullptr;
  Form1 form(temp.game(), [&](const GameFolder& game) -> std::unique_ptr<FileSystem> {
    return std::make_unique<ObservingFileSystem>(OpenFileSystem(game), *form_seen, seen, fail);
  });
  form_seen = &form;
  form.show();
  QTest::mouseClick(form.findChild<QPushButton*>("CpyFls"), Qt::LeftButton);
  ASSERT_FALSE(seen.isEmpty());
  for (const QString& state : seen) EXPECT_EQ(state, kLocked);
  EXPECT_EQ(ButtonStates(form), kIdle);
  EXPECT_EQ(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"), !fail);
}

TEST(Form1CopyTest, CopyFilesLocksThreeButtonsWhileItRunsAndUnlocksThemAfter) {
  ExpectLockedThenUnlocked(false);
}

TEST(Form1CopyTest, CopyFilesUnlocksTheButtonsAlsoWhenTheCopyFails) {
  ExpectLockedThenUnlocked(true);
}

TEST(Form1ConfigTest, CreateIniFileWritesTheFileAndChangesNoButton) {
  TempGame temp;
  temp.Write("Config.ini", "SaveDir=save\\\r\n");
  Form1 form(temp.game());
  form.show();
  QTest::mouseClick(form.findChild<QPushButton*>("CRTINI"), Qt::LeftButton);
  EXPECT_EQ(temp.Read("Qorvane.ini"), "SAVEDIR=ZENTOSAVE\\\r\n");
  EXPECT_EQ(ButtonStates(form), kIdle);
}

}  // namespace
}  // namespace velmora
