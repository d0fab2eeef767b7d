#pragma once

// A folder shown through a FUSE driver that logs every fsync and every new
// name it receives (testing/counting_fuse.cpp), as a disk read through
// ntfs-3g or exfat-fuse is: syncfs never reaches such a driver, an fsync of
// a file does. Mounted while the object lives; tests skip when mounted() is
// false (no FUSE here, or not root).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

class CountingDisk {
 public:
  // Shows `backing` at `folder`, logging to `log`; with `fail_fsync`, every
  // fsync fails with EIO; with `refuse_rename_flags`, a rename that must not
  // replace is refused, as ntfs-3g and exfat-fuse refuse it.
  CountingDisk(const std::filesystem::path& backing, const std::filesystem::path& folder,
               const std::filesystem::path& log, bool fail_fsync, bool refuse_rename_flags = false,
               bool fail_fsyncdir = false)
      : folder_(folder), log_(log) {
#ifdef COUNTING_FUSE
    std::filesystem::create_directories(backing);
    std::filesystem::create_directories(folder);
    struct stat before {};
    stat(folder.c_str(), &before);
    driver_ = fork();
    if (driver_ == 0) {
      std::vector<const char*> arguments{"counting_fuse", backing.c_str(), folder.c_str(), log.c_str()};
      if (fail_fsync) arguments.push_back("--fail-fsync");
      if (refuse_rename_flags) arguments.push_back("--no-rename-flags");
      if (fail_fsyncdir) arguments.push_back("--fail-fsyncdir");
      arguments.push_back(nullptr);
      execv(COUNTING_FUSE, const_cast<char* const*>(arguments.data()));
      _exit(127);
    }
    // Mounted once the folder shows another file system.
    for (int i = 0; i < 500 && !mounted_; ++i) {
      struct stat now {};
      mounted_ = stat(folder.c_str(), &now) == 0 && now.st_dev != before.st_dev;
      if (!mounted_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (waitpid(driver_, nullptr, WNOHANG) == driver_) break;  // it could not mount
    }
#else
    (void)backing;
    (void)fail_fsync;
    (void)refuse_rename_flags;
#endif
  }
  ~CountingDisk() {
    if (driver_ <= 0) return;
    if (mounted_ && std::system(("umount '" + folder_.string() + "' 2>/dev/null").c_str()) != 0) kill(driver_, SIGTERM);
    waitpid(driver_, nullptr, 0);
  }
  CountingDisk(const CountingDisk&) = delete;
  CountingDisk& operator=(const CountingDisk&) = delete;

  bool mounted() const { return mounted_; }
  // The driver's log so far, a line for each request: "fsync PATH",
  // "fsync-failed PATH", "rename FROM TO" or "link FROM TO", paths from the
  // disk's root.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::filesystem::path folder_;
  std::filesystem::path log_;
  pid_t driver_ = -1;
  bool mounted_ = false;
};

}  // namespace velmora::testing
