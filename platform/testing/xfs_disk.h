#pragma once

// An xfs file system on a loop file, which clones files as btrfs does.
// Tests skip when mounted() is false (no mkfs.xfs, not root).
#include <filesystem>

#include "platform/testing/image_disk.h"

namespace velmora::testing {

class XfsDisk : public ImageDisk {
 public:
  explicit XfsDisk(const std::filesystem::path& folder)
      : ImageDisk(folder, "320M", "mkfs.xfs -q -f -m reflink=1", "mount -o loop") {}
};

}  // namespace velmora::testing
