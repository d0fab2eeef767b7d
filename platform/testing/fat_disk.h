#pragma once

// A FAT file system read through FUSE (fusefat on an image file), as a USB
// stick or a Windows partition is on many players' machines: no permission
// bits, no hard links, no unnamed files. Mounted at a folder while the object
// lives; tests skip when mounted() is false (no fusefat, or not root).
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velmora::testing {

class FatDisk {
 public:
  explicit FatDisk(const std::filesystem::path& folder)
      : folder_(folder), image_(folder.string() + ".img") {
    std::filesystem::create_directories(folder);
    const std::string image = "'" + image_.string() + "'";
    mounted_ = std::system(("truncate -s 32M " + image + " && mkfs.vfat " + image + " >/dev/null 2>&1 && " +
                            "fusefat -o rw+ " + image + " '" + folder.string() + "' >/dev/null 2>&1")
                               .c_str()) == 0;
  }
  ~FatDisk() {
    if (mounted_ && std::system(("umount -l '" + folder_.string() + "'").c_str()) != 0) {
      // left for the next run's clean-up: a test has nothing to add here
    }
    std::error_code error;
    std::filesystem::remove(image_, error);
  }
  FatDisk(const FatDisk&) = delete;
  FatDisk& operator=(const FatDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path image_;
  bool mounted_;
};

}  // namespace velmora::testing
