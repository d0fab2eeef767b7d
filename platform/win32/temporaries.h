#pragma once

// The hidden temporaries a file is written under before it gets its name
// (".velmora-PROCESS-NUMBER.tmp"), the hidden folders copies are written
// in, and the removal of those a killed run left.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/handle.h"
#include "platform/win32/held_folder.h"
#include "platform/win32/holds.h"

namespace velmora {

// True for the name of a temporary of this program, a file or a folder.
bool IsTemporaryName(const wchar_t* name);

// A new hidden file in `folder` under a name nothing else uses, given back
// in `name`. It is written through a handle that shares nothing, deletion
// included, until it has its name.
Handle CreateTemporary(const HeldFolder& folder, std::wstring& name);

// Removes a temporary that will not be named, wherever it is now.
void Discard(Handle& temporary);

// Gives the temporary, made in the held folder `made_in` (`folder` or a
// sub-folder of it), its name in the held folder `folder`, once Windows
// says it is where it was made; a hold on the file it replaces (at
// `target`) is waited out. False with no error when the temporary is
// somewhere else.
bool NameTemporary(PassingHolds& holds, const HeldFolder& made_in, const HeldFolder& folder, const Handle& temporary,
                   const std::wstring& temporary_name, const std::wstring& name, const std::wstring& target,
                   bool replace);

// The hidden folders the temporaries of copies are made in: one in each
// target folder, held with it from the game folder down, so that a
// temporary and its rename are looked up through the same folders, and
// only the rename looks a name up in the large folder. Each is made on the
// first copy into its folder and removed when this object goes.
class TemporaryFolders {
 public:
  ~TemporaryFolders();
  // The one in `folder`, which is held as `held`; `write_root` and `names`
  // lead to it. Null when it cannot be made, with the error of the call
  // that failed in `error`, the same for every copy into that folder.
  std::shared_ptr<const HeldFolder> In(const std::wstring& folder, const HeldFolder& held,
                                       const std::wstring& write_root, std::vector<std::wstring> names,
                                       DWORD& error);

 private:
  struct Made {
    std::shared_ptr<const HeldFolder> held;
    DWORD error = ERROR_SUCCESS;  // why it could not be made
  };
  std::map<std::wstring, Made> held_;
  std::vector<std::wstring> made_;
};

// A run killed part-way leaves its temporaries behind: the first write
// into a folder removes those. Process ids repeat (Wine hands out the same
// ones in every session), so the file decides: a temporary is written
// through a handle that shares no deletion, so one that can be deleted is
// a leftover, and one being written cannot be. So does a temporaries'
// folder, held without delete sharing while its run lives.
class TemporarySweep {
 public:
  using EntryTaker = std::function<void(const WIN32_FIND_DATAW& found)>;
  // Lists `folder` whole, removing its leftovers, and hands `take` every
  // other entry.
  void ListSweeping(const std::wstring& folder, const EntryTaker& take);
  // Removes the leftovers of `folder` unless it was swept already.
  void SweepOnce(const std::wstring& folder) {
    if (!swept_.count(folder)) ListSweeping(folder, nullptr);
  }

 private:
  std::set<std::wstring> swept_;
};

}  // namespace velmora
