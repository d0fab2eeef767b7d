#include "app/catalog.h"

namespace velmora {

std::string Fill(std::string_view text, std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
  std::string filled;
  filled.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t open = text.find('{', at);
    const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) {
      filled += text.substr(at);
      break;
    }
    filled += text.substr(at, open - at);
    const std::string_view name = text.substr(open + 1, close - open - 1);
    const auto* value = values.begin();
    while (value != values.end() && value->first != name) ++value;
    if (value == values.end()) {
      filled += '{';  // not a placeholder: kept, and looked past
      at = open + 1;
      continue;
    }
    filled += value->second;
    at = close + 1;
  }
  return filled;
}

}  // namespace velmora
