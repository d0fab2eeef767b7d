#include "platform/shared_extents_posix.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/testing/temp_game.h"
#include "platform/unique_fd.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// An xfs file system (which clones files) on a loop file, mounted while the
// object lives; a test skips where it cannot be made (no mkfs.xfs, not root).
class XfsDisk {
 public:
  explicit XfsDisk(const fs::path& folder) : folder_(folder), image_(folder.string() + ".img") {
    fs::create_directories(folder);
    const std::string image = "'" + image_.string() + "'";
    mounted_ = std::system(("truncate -s 320M " + image + " && mkfs.xfs -q -f -m reflink=1 " + image +
                            " >/dev/null 2>&1 && mount -o loop " + image + " '" + folder.string() + "'")
                               .c_str()) == 0;
  }
  ~XfsDisk() {
    if (mounted_ && std::system(("umount '" + folder_.string() + "'").c_str()) != 0) std::perror("umount");
    std::error_code error;
    fs::remove(image_, error);
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path folder_, image_;
  bool mounted_;
};

UniqueFd Written(const fs::path& path, const std::string& data) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
  EXPECT_EQ(write(fd.get(), data.data(), data.size()), ssize_t(data.size()));
  EXPECT_EQ(fsync(fd.get()), 0);  // placed on the disk: extents known
  return fd;
}

TEST(SharedExtentsTest, AFileAndItsCloneShareAllExtentsUntilOneOfThemIsWrittenTo) {
  testing::TempGame temp;
  XfsDisk disk(temp.At("xfs"));
  if (!disk.mounted()) GTEST_SKIP() << "no xfs file system can be made here";
  const std::string data(3 << 20, 'x');
  const UniqueFd source = Written(temp.At("xfs/source"), data);
  UniqueFd clone(open(temp.At("xfs/clone").c_str(), O_RDWR | O_CREAT, 0644));
  ASSERT_EQ(ioctl(clone.get(), FICLONE, source.get()), 0);
  const UniqueFd same_bytes = Written(temp.At("xfs/same-bytes"), data);

  EXPECT_TRUE(SharesAllExtents(source.get(), clone.get()));
  EXPECT_FALSE(SharesAllExtents(source.get(), same_bytes.get())) << "equal bytes in other blocks: read to tell";

  // The write takes a block of its own; xfs shows it only once written back.
  ASSERT_EQ(pwrite(clone.get(), "y", 1, 1 << 20), 1);
  EXPECT_FALSE(SharesAllExtents(source.get(), clone.get())) << "a write still in the cache";
}

TEST(SharedExtentsTest, TwoCopiesOnADiskThatDoesNotCloneShareNothing) {
  testing::TempGame temp;
  const UniqueFd a = Written(temp.At("a"), std::string(100000, 'x'));
  const UniqueFd b = Written(temp.At("b"), std::string(100000, 'x'));
  EXPECT_FALSE(SharesAllExtents(a.get(), b.get()));
}

}  // namespace
}  // namespace velmora
