#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/game_folder.h"

namespace velmora::testing {

// A game folder of its own in a new temporary folder, removed afterwards.
// Test paths are written with "/".
class TempGame {
 public:
  TempGame();
  ~TempGame();
  TempGame(const TempGame&) = delete;
  TempGame& operator=(const TempGame&) = delete;

  const std::filesystem::path& root() const { return root_; }
  const GameFolder& game() const { return game_; }
  std::filesystem::path At(std::string_view relative) const { return root_ / relative; }

  // Writes a file, creating its folders.
  void Write(std::string_view relative, std::string_view content) const;
  void MakeFolder(std::string_view relative) const;
  std::string Read(std::string_view relative) const;
  bool Exists(std::string_view relative) const;
  // The names in a folder, hidden ones too, sorted.
  std::vector<std::string> Names(std::string_view relative = "") const;

 private:
  std::filesystem::path root_;
  GameFolder game_;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWhole(const std::filesystem::path& path);

}  // namespace velmora::testing
