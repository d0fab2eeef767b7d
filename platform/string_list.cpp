#include "platform/string_list.h"

#include "platform/name_case.h"

namespace velmora {

void StringList::AddItem(std::string_view text) {
  text_.append(text);
  ends_.push_back(text_.size());
  all_ascii_ = all_ascii_ && IsAsciiName(text);
}

void StringList::Clear() {
  // Give the memory back: a large configuration file should not stay resident.
  std::string().swap(text_);
  std::vector<std::size_t>().swap(ends_);
  all_ascii_ = true;
}

std::string_view StringList::List(std::size_t i) const {
  const std::size_t begin = i == 0 ? 0 : ends_.at(i - 1);
  return std::string_view(text_).substr(begin, ends_.at(i) - begin);
}

}  // namespace velmora
