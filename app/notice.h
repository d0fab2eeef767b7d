#pragma once

#include <string>

namespace velmora {

// A command's word to the player that it did not do everything.
struct Notice {
  std::string text;
  std::string details = {};  // the whole list behind the text; may be empty
};

}  // namespace velmora
