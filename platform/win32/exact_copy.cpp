#include "platform/win32/exact_copy.h"

#include <cstring>
#include <vector>

#include "platform/win32/calls.h"
#include "platform/win32/handle.h"

namespace velmora {
namespace {

bool SameBytes(HANDLE source, HANDLE copy) {
  thread_local std::vector<char> ours(1 << 16), theirs(1 << 16);
  for (;;) {
    DWORD got = 0, got_there = 0;
    if (!ReadFile(source, ours.data(), DWORD(ours.size()), &got, nullptr)) return false;
    if (got == 0) return true;
    if (!ReadFile(copy, theirs.data(), got, &got_there, nullptr) || got_there != got ||
        std::memcmp(ours.data(), theirs.data(), got) != 0)
      return false;
  }
}

}  // namespace

bool IsExactCopy(HANDLE source, const FILE_BASIC_INFO& source_info, const std::wstring& target) {
  const Handle copy(CreateFileW(ExtendedLengthPath(target).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!copy) return false;
  FILE_BASIC_INFO info;
  FILE_STANDARD_INFO ours, theirs;
  constexpr DWORD kKind = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (!GetFileInformationByHandleEx(copy.get(), FileBasicInfo, &info, sizeof info) ||
      info.LastWriteTime.QuadPart != source_info.LastWriteTime.QuadPart ||
      (info.FileAttributes & kKind) != (source_info.FileAttributes & FILE_ATTRIBUTE_READONLY) ||
      !GetFileInformationByHandleEx(source, FileStandardInfo, &ours, sizeof ours) ||
      !GetFileInformationByHandleEx(copy.get(), FileStandardInfo, &theirs, sizeof theirs) ||
      ours.EndOfFile.QuadPart != theirs.EndOfFile.QuadPart)
    return false;
  const bool same = SameBytes(source, copy.get());
  // Back at its start for the copy that is made when it is not the same.
  const LARGE_INTEGER start{};
  return SetFilePointerEx(source, start, nullptr, FILE_BEGIN) && same;
}

}  // namespace velmora
