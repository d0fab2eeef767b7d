#pragma once

// Copies that are complete but have no name yet. A file gets its name only
// once its data is on the disk, so that a power cut can never leave an empty
// or zero-filled file under a final name; a name lost instead is harmless,
// the next run copies that file again. Making each file durable alone would
// cost one disk flush per file; as dpkg does, the copies are gathered in
// batches: writeback starts as each is written, one flush per batch waits
// for all of them, then each gets its name.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/unique_fd.h"

namespace velmora {

class DurableBatch {
 public:
  struct Copy {
    UniqueFd file;                           // written whole
    std::shared_ptr<const UniqueFd> folder;  // where it lands
    std::string temporary;                   // its temporary name; empty for an unnamed file
    std::string name;                        // the name it is to get
    Replace replace;                         // with kNo only if that name is still free
  };

  // At most this many open files wait for their flush.
  static constexpr std::size_t kCapacity = 256;

  DurableBatch() = default;
  ~DurableBatch() { Flush(); }
  DurableBatch(const DurableBatch&) = delete;
  DurableBatch& operator=(const DurableBatch&) = delete;

  // Takes a copy and starts writing its data to the disk; names the whole
  // batch once it is full.
  void Add(Copy copy);
  // Makes the data of every waiting copy durable, then gives each its name.
  // When the flush fails, none is named and every temporary is removed.
  void Flush();

 private:
  std::vector<Copy> copies_;
};

// Gives a complete temporary file in `folder` the name `to`, only if that
// name is free.
bool RenameNoReplace(int folder, const std::string& from, const std::string& to);

}  // namespace velmora
