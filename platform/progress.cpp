#include "platform/progress.h"

namespace velmora {

Progress& NoProgress() {
  struct Silent final : Progress {
    bool Wanted() override { return false; }
    void Report(std::uint64_t, std::uint64_t) override {}
  };
  static Silent silent;
  return silent;
}

}  // namespace velmora
