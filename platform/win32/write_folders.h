#pragma once

// The folders below the game folder that files are written into, and where
// a path below the game folder lies: in the game folder itself, or, where
// Windows virtualizes the game's writes, in its twin in the VirtualStore,
// which the game sees first.
//
// Writes never go through a link or junction: the folder written into is
// held open from the game folder down (see HeldFolder), and files are made
// and named below that handle.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/failures.h"
#include "platform/file_system.h"
#include "platform/win32/held_folder.h"
#include "platform/win32/virtual_store.h"

namespace velmora {

class WriteFolders {
 public:
  // Below the game folder `root`.
  explicit WriteFolders(std::wstring root);

  // A path below the real game folder, below its twin in the store, and
  // where writes go: the twin where the game is virtualized.
  std::wstring Path(const GamePath& path) const { return Below(root_, path); }
  std::wstring StorePath(const GamePath& path) const { return Below(view_.store, path); }
  std::wstring WritePath(const GamePath& path) const { return Below(write_root_, path); }
  // Where the game finds `path`: the store's copy first, then the real one.
  std::wstring ViewPath(const GamePath& path) const;
  bool Virtualized() const { return !view_.store.empty(); }

  // The names of `path`'s folders below the folder `native`, each as that
  // folder spells it where it was made case-sensitive.
  std::vector<std::wstring> NamesBelow(std::wstring native, const GamePath& path) const;
  const std::wstring& WriteRoot() const { return write_root_; }
  // True when the folder at `folder` tells letter case apart (made so by
  // WSL, say); asked once for each.
  bool IsCaseSensitive(const std::wstring& folder) const;

  // The folder written into, held from the game folder down; kept for the
  // writes that follow into the same folder, and shared with the copies
  // still being written into it. Null when it cannot be held (missing, or a
  // link on the way).
  std::shared_ptr<const HeldFolder> Open(const GamePath& folder);
  // Why `folder` cannot be held for writing: missing on the way, a link on
  // the way, or refused.
  Cause WhyNotOpen(const GamePath& folder) const;

 private:
  // In a folder made case-sensitive a name is found by listing, ignoring
  // letter case as everywhere else; a name not there keeps the spelling given.
  std::wstring Below(std::wstring native, const GamePath& path) const {
    for (const std::wstring& name : NamesBelow(native, path)) native += L"\\" + name;
    return native;
  }
  static std::wstring NameIgnoringCase(const std::wstring& folder, const std::wstring& name);
  // Makes the store's twin of `folder`, as the filter would on the game's
  // first write there, when the game sees such a folder. False when it does
  // not, or the twin cannot be made.
  bool MakeStoreTwin(const GamePath& folder);

  std::wstring root_;
  GameView view_;
  std::wstring write_root_;
  mutable std::map<std::wstring, bool> case_sensitive_;  // by folder
  std::shared_ptr<const HeldFolder> held_;
  GamePath held_path_;
};

}  // namespace velmora
