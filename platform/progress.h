#pragma once

// How far a long command has come, in bytes. The command reports as it
// works; whoever shows it decides how often it wants a figure, so that a
// command need not work one out for every file.
#include <cstdint>

namespace velmora {

class Progress {
 public:
  virtual ~Progress() = default;
  // True when a new figure is wanted now. Called often, from the command's
  // thread only.
  virtual bool Wanted() = 0;
  // `done` of `total` bytes; a `total` of 0 means the amount is not known yet.
  virtual void Report(std::uint64_t done, std::uint64_t total) = 0;
};

// Wants no figures.
Progress& NoProgress();

}  // namespace velmora
