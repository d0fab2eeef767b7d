#include "platform/posix/shared_extents.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/posix/unique_fd.h"
#include "platform/testing/temp_game.h"
#include "platform/testing/xfs_disk.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

UniqueFd Written(const fs::path& path, const std::string& data) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
  EXPECT_EQ(write(fd.get(), data.data(), data.size()), ssize_t(data.size()));
  EXPECT_EQ(fsync(fd.get()), 0);  // placed on the disk: extents known
  return fd;
}

TEST(SharedExtentsTest, AFileAndItsCloneShareAllExtentsUntilOneOfThemIsWrittenTo) {
  testing::TempGame temp;
  testing::XfsDisk disk(temp.At("xfs"));
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
