#include "platform/testing/temp_game.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

namespace velmora::testing {
namespace {

std::filesystem::path NewFolder() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto path = base / ("velmora-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path)) return path;
  }
}

}  // namespace

TempGame::TempGame() : root_(NewFolder()), game_(root_.string()) {}

TempGame::~TempGame() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void TempGame::Write(std::string_view relative, std::string_view content) const {
  const auto path = At(relative);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(content.data(), std::streamsize(content.size()));
}

void TempGame::MakeFolder(std::string_view relative) const {
  std::filesystem::create_directories(At(relative));
}

std::string TempGame::Read(std::string_view relative) const { return ReadWhole(At(relative)); }

bool TempGame::Exists(std::string_view relative) const {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(At(relative), error));
}

std::vector<std::string> TempGame::Names(std::string_view relative) const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(At(relative)))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace velmora::testing
