#pragma once

// The hidden temporary files a file is written under before it gets its
// name (".velmora-PID-N.tmp"), and the removal of those a killed run left.
// A writer holds its temporary locked for as long as it writes it: one that
// nobody holds locked is a leftover. Process ids say nothing here: they
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
