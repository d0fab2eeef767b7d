#pragma once

// An xfs file system on a loop file, which clones files as btrfs does,
// mounted at a folder while the object lives; tests skip when mounted() is
// false (no mkfs.xfs, not root).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velmora::testing {

class XfsDisk {
 public:
  explicit XfsDisk(const std::filesystem::path& folder) : folder_(folder), image_(folder.string() + ".img") {
    std::filesystem::create_directories(folder);
    const std::string image = "'" + image_.string() + "'";
    mounted_ = std::system(("truncate -s 320M " + image + " && mkfs.xfs -q -f -m reflink=1 " + image +
                            " >/dev/null 2>&1 && mount -o loop " + image + " '" + folder.string() + "'")
                               .c_str()) == 0;
  }
  ~XfsDisk() {
    if (mounted_ && std::system(("umount '" + folder_.string() + "'").c_str()) != 0) std::perror("umount");
    std::error_code error;
    std::filesystem::remove(image_, error);
  }
  XfsDisk(const XfsDisk&) = delete;
  XfsDisk& operator=(const XfsDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path folder_, image_;
  bool mounted_;
};

}  // namespace velmora::testing
