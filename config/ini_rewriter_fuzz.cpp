// libFuzzer target: any bytes as a game configuration.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "config/rewrite_property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string violation = velmora::RewriteViolation({reinterpret_cast<const char*>(data), size});
  if (!violation.empty()) {
    std::fprintf(stderr, "%s\n", violation.c_str());
    std::abort();
  }
  return 0;
}
