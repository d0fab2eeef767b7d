#include "platform/win32/temporaries.h"

#include <atomic>
#include <cwchar>

#include "platform/win32/calls.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

// Makes something new under a temporary name nothing else uses, given back
// in `name`: `make` is tried on fresh names until it succeeds or fails for
// another reason than the name being taken, so a name left by a killed run
// only makes it try the next one.
template <typename Make>
Handle UnderTemporaryName(std::wstring& name, Make make) {
  static std::atomic<unsigned> counter{0};
  const std::wstring prefix = L".velmora-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = prefix + std::to_wstring(counter++) + L".tmp";
    Handle made = make(name);
    if (made || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) return made;
  }
  return Handle();
}

// True when the entry `found` in `folder` is a folder that lies there, not
// a link or junction to somewhere else: a sweep never goes through one,
// whatever its tag (a Unix link under Wine shows none, but Windows names
// the folder it leads to).
bool IsFolderOfItsOwn(const std::wstring& folder, const WIN32_FIND_DATAW& found) {
  if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const Handle parent(CreateFileW(Long(folder).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const Handle entry(CreateFileW(Long(folder + L"\\" + found.cFileName).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
  if (!parent || !entry) return false;
  const std::wstring parent_name = NativeNameOf(parent.get());
  const std::wstring expected = parent_name + L"\\" + found.cFileName;
  const std::wstring actual = NativeNameOf(entry.get());
  return !parent_name.empty() && SameNameIgnoringCase(actual, expected);
}

// Lists `folder` whole: removes the leftover temporaries in it (a leftover
// folder with what it holds) and hands `take`, if any, every other entry.
void RemoveLeftoversListing(const std::wstring& folder, const TemporarySweep::EntryTaker& take) {
  FindEach(folder, [&](const WIN32_FIND_DATAW& found) {
    const std::wstring path = folder + L"\\" + found.cFileName;
    if (!IsTemporaryName(found.cFileName)) {
      if (take) take(found);
    } else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileW(Long(path).c_str());  // a link of that name goes, not what it leads to
    } else if (IsFolderOfItsOwn(folder, found)) {
      RemoveLeftoversListing(path, nullptr);
      RemoveDirectoryW(Long(path).c_str());
    }
    return true;
  });
}

}  // namespace

bool IsTemporaryName(const wchar_t* name) {
  unsigned long process = 0;
  unsigned long number = 0;
  wchar_t rest[8] = {};
  return std::swscanf(name, L".velmora-%lu-%lu%7ls", &process, &number, rest) == 3 && std::wcscmp(rest, L".tmp") == 0;
}

Handle CreateTemporary(const HeldFolder& folder, std::wstring& name) {
  return UnderTemporaryName(name, [&](const std::wstring& fresh) {
    return folder.Create(fresh, GENERIC_WRITE | DELETE | SYNCHRONIZE, 0, FILE_CREATE,
                         FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_SEQUENTIAL_ONLY,
                         FILE_ATTRIBUTE_HIDDEN, HeldFolder::NameCase::kExact);
  });
}

void Discard(Handle& temporary) {
  FILE_DISPOSITION_INFO remove{TRUE};
  SetFileInformationByHandle(temporary.get(), FileDispositionInfo, &remove, sizeof remove);
  temporary.Close();
}

bool NameTemporary(PassingHolds& holds, const HeldFolder& made_in, const HeldFolder& folder, const Handle& temporary,
                   const std::wstring& temporary_name, const std::wstring& name, const std::wstring& target,
                   bool replace) {
  if (!made_in.Holds(temporary.get(), temporary_name)) {
    SetLastError(ERROR_SUCCESS);  // no error: the temporary is somewhere else
    return false;
  }
  return holds.WaitOut(target, [&] { return folder.Rename(temporary.get(), name, replace); });
}

TemporaryFolders::~TemporaryFolders() {
  held_.clear();  // a folder held cannot be removed
  for (const std::wstring& folder : made_) RemoveDirectoryW(Long(folder).c_str());
}

std::shared_ptr<const HeldFolder> TemporaryFolders::In(const std::wstring& folder, const HeldFolder& held,
                                                       const std::wstring& write_root,
                                                       std::vector<std::wstring> names, DWORD& error) {
  const auto [at, added] = held_.try_emplace(folder);
  Made& made = at->second;
  if (added) {
    std::wstring name;
    const bool created = bool(UnderTemporaryName(name, [&](const std::wstring& fresh) {
      return held.Create(fresh, FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                         FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, FILE_ATTRIBUTE_HIDDEN,
                         HeldFolder::NameCase::kExact);
    }));
    if (created) {
      names.push_back(name);
      std::optional<HeldFolder> opened = HeldFolder::Open(write_root, names);
      if (opened) made.held = std::make_shared<const HeldFolder>(std::move(*opened));
      made_.push_back(folder + L"\\" + name);
    }
    if (!made.held) made.error = GetLastError();
    // Never without a cause, whatever the failed call left.
    if (!made.held && made.error == ERROR_SUCCESS) made.error = ERROR_CANNOT_MAKE;
  }
  error = made.error;
  return made.held;
}

void TemporarySweep::ListSweeping(const std::wstring& folder, const EntryTaker& take) {
  swept_.insert(folder);
  RemoveLeftoversListing(folder, take);
}

}  // namespace velmora
