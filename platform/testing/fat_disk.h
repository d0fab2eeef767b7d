#pragma once

// A FAT file system read through FUSE (fusefat on an image file), as a USB
// stick or a Windows partition is on many players' machines: no permission
// bits, no hard links, no unnamed files. Tests skip when mounted() is false
// (no fusefat, or not root).
#include <filesystem>

#include "platform/testing/image_disk.h"

namespace velmora::testing {

class FatDisk : public ImageDisk {
 public:
  explicit FatDisk(const std::filesystem::path& folder) : ImageDisk(folder, "32M", "mkfs.vfat", "fusefat -o rw+") {}
};

}  // namespace velmora::testing
