#include "app/platform_choice.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

// The session's variables as a test sets them; put back afterwards.
class Session {
 public:
  Session() {
    for (const char* name : kNames) {
      const char* value = getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
      unsetenv(name);
    }
  }
  ~Session() {
    for (const auto& [name, value] : saved_) value ? (void)setenv(name.c_str(), value->c_str(), 1) : (void)unsetenv(name.c_str());
  }
  void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

 private:
  static constexpr const char* kNames[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"};
  std::map<std::string, std::optional<std::string>> saved_;
};

// A listening socket at `path`, as a Wayland compositor makes.
int Listen(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(listen(fd, 1), 0);
  return fd;
}

TEST(PlatformChoiceTest, WaylandWhereItsPluginAndCompositorAreThenX11AndNoneWithALineSayingWhy) {
  testing::TempGame temp;
  Session session;
  const std::string plugins = temp.At("platforms").string(), none = temp.At("none").string();
  temp.Write("platforms/libqwayland-generic.so", "");
  temp.Write("platforms/libqxcb.so", "");
  temp.MakeFolder("none");
  const int compositor = Listen(temp.At("wayland-0").string());

  EXPECT_EQ(ChoosePlatforms(plugins).platforms, "");
  EXPECT_EQ(ChoosePlatforms(plugins).why_none, "velmora needs a graphical session: DISPLAY or WAYLAND_DISPLAY is not set");

  session.Set("XDG_RUNTIME_DIR", temp.root().string());
  session.Set("WAYLAND_DISPLAY", "wayland-0");
  EXPECT_EQ(ChoosePlatforms(plugins).platforms, "wayland");
  // Without Qt's Wayland plugin: a line naming the package, not Qt's abort.
  EXPECT_EQ(ChoosePlatforms(none).platforms, "");
  EXPECT_NE(ChoosePlatforms(none).why_none.find("qt6-wayland"), std::string::npos);

  session.Set("DISPLAY", ":0");
  EXPECT_EQ(ChoosePlatforms(plugins).platforms, "wayland;xcb");
  EXPECT_EQ(ChoosePlatforms(none).platforms, "xcb");
  session.Set("WAYLAND_DISPLAY", "wayland-9");  // no compositor there
  EXPECT_EQ(ChoosePlatforms(plugins).platforms, "xcb");

  session.Set("QT_QPA_PLATFORM", "offscreen");  // the user's choice stands
  EXPECT_EQ(ChoosePlatforms(none).platforms, "offscreen");
  close(compositor);
}

// The portable build carries qt.conf beside the program: its plugins are
// found there before the application object exists, as Qt finds them after.
TEST(PlatformChoiceTest, ThePluginFolderIsTheOneAQtConfBesideTheProgramNamesElseQtsOwn) {
  testing::TempGame folder;
  const std::string program = folder.root().string();
  EXPECT_EQ(PluginFolder(program, "/usr/lib/qt6/plugins"), "/usr/lib/qt6/plugins");
  folder.Write("qt.conf", "[Paths]\nPrefix = .\nLibraries = lib\nPlugins = plugins\n");
  EXPECT_EQ(PluginFolder(program, "/usr/lib/qt6/plugins"), program + "/plugins");
}

}  // namespace
}  // namespace velmora
