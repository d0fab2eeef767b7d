#pragma once

// A full disk made for real: a small tmpfs mounted at a folder while the
// object lives. Mounting needs root; tests skip when mounted() is false.
#include <sys/mount.h>

#include <filesystem>

namespace velmora::testing {

class SmallDisk {
 public:
  explicit SmallDisk(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder);
    mounted_ = mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path folder_;
  bool mounted_;
};

}  // namespace velmora::testing
