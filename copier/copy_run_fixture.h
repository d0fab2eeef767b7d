#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <utility>
#include <string>
#include <vector>

#include "copier/copy_run.h"
#include "platform/ascii.h"
#include "platform/testing/temp_game.h"

namespace velmora {

// Wants every figure, and records them, from whichever thread tells them.
class RecordedProgress : public Progress {
 public:
  bool Wanted() override { return true; }
  void Report(std::uint64_t done, std::uint64_t total) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    figures_.push_back({done, total});
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> figures() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return figures_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> figures_;
};

// A temporary game folder and the window's work lists, for running copies.
class CopyRunTest : public ::testing::Test {
 protected:
  CopyOutcome Run() {
    auto file_system = OpenFileSystem(temp_.game());
    return CopySeasonFiles(temp_.game(), *file_system, {not_copy_, dirs_, dirs2_, dir1_, file1_});
  }
  // The failures of a run as "path: cause number", in the order met.
  static std::vector<std::string> Failures(const CopyOutcome& outcome) {
    std::vector<std::string> failures;
    for (const Failure& failure : outcome.failures) {
      std::string path;
      for (const std::string& name : failure.path) path += (path.empty() ? "" : "/") + name;
      failures.push_back(path + ": " + std::to_string(int(failure.cause)));
    }
    std::sort(failures.begin(), failures.end());
    return failures;
  }
  static std::string Failed(const char* path, Cause cause) { return std::string(path) + ": " + std::to_string(int(cause)); }
  // The folder pairs, source and target after each other.
  std::vector<std::string> Plan() {
    std::vector<std::string> plan;
    for (std::size_t j = 0; j < dirs_.ListCount(); ++j) {
      plan.emplace_back(dirs_.List(j));
      plan.emplace_back(dirs2_.List(j));
    }
    return plan;
  }
  std::vector<std::string> Names(const char* relative) { return temp_.Names(relative); }
  std::vector<std::string> UpperNames(const char* relative) {
    std::vector<std::string> names = Names(relative);
    for (std::string& name : names) name = ToUpperAscii(name);
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::TempGame temp_;
  StringList not_copy_, dirs_, dirs2_;
  FolderListing dir1_{temp_.game()};
  FileListing file1_{temp_.game()};
};

}  // namespace velmora
