#pragma once

// A file system of its own in an image file beside a folder, made and
// mounted at the folder while the object lives, then unmounted and its
// image removed. Needs the kind's tools and, mostly, root: tests skip when
// mounted() is false.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velmora::testing {

class ImageDisk {
 public:
  // An image of `size` (as truncate takes it), formatted by `make` (given
  // the image) and shown at `folder` by `mount` (given the image and the
  // folder).
  ImageDisk(const std::filesystem::path& folder, const std::string& size, const std::string& make,
            const std::string& mount)
      : folder_(folder), image_(folder.string() + ".img") {
    std::filesystem::create_directories(folder);
    const std::string image = "'" + image_.string() + "'";
    mounted_ = std::system(("truncate -s " + size + " " + image + " && " + make + " " + image +
                            " >/dev/null 2>&1 && " + mount + " " + image + " '" + folder.string() +
                            "' >/dev/null 2>&1")
                               .c_str()) == 0;
  }
  ~ImageDisk() {
    // Detached, as a FUSE driver may hold it a moment longer; a disk that
    // stays is the next run's to clean up, a test has nothing to add here.
    if (mounted_) {
      const int unmounted = std::system(("umount -l '" + folder_.string() + "'").c_str());
      (void)unmounted;
    }
    std::error_code error;
    std::filesystem::remove(image_, error);
  }
  ImageDisk(const ImageDisk&) = delete;
  ImageDisk& operator=(const ImageDisk&) = delete;
  bool mounted() const { return mounted_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path image_;
  bool mounted_;
};

}  // namespace velmora::testing
