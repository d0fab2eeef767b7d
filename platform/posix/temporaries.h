#pragma once

// The hidden temporary files a file is written under before it gets its
// name (".velmora-PID-N.tmp"), and the removal of those a killed run left.
// A writer holds its temporary locked for as long as it writes it, and on
// until it has its name: one that nobody holds locked is a leftover. Process ids say nothing here: they
// repeat, and a run in a PID namespace may well have been process 1.
#include <set>
#include <string>

#include "platform/case_resolver.h"
#include "platform/posix/status.h"
#include "platform/posix/unique_fd.h"

namespace velmora {

// Creates a temporary in the open `folder` under a name nothing else uses,
// given back in `name`, open for writing and locked.
Result<UniqueFd> CreateTemporary(int folder, std::string& name);

// Keeps the temporary `name` in `folder`, written through `written`, locked
// once `written` is closed: a second descriptor, read-only, that holds the
// lock until it goes. Closed before the temporary's name is removed, as a
// FUSE driver would keep a file removed while open under a hidden name.
UniqueFd KeepLocked(int written, int folder, const std::string& name);

// Removes the leftover temporaries of a folder, once per folder: the first
// write into a folder sweeps it.
class TemporarySweep {
 public:
  // `folder` is open as `fd`; `index` lists its names.
  void SweepOnce(const std::string& folder, int fd, const CaseResolver::FolderIndex& index);

 private:
  std::set<std::string> swept_;
};

}  // namespace velmora
