#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// An ordered list of texts: entries stay in the order they were appended,
// duplicates included. The texts live in one buffer, so a list of a million
// short lines costs little more than the lines themselves.
class StringList {
 public:
  void AddItem(std::string_view text);
  void Clear();
  std::size_t ListCount() const { return ends_.size(); }
  // The entry at index i (0-based); valid until the list is next changed.
  std::string_view List(std::size_t i) const;
  // True when every entry is ASCII.
  bool AllAscii() const { return all_ascii_; }

 private:
  std::string text_;
  std::vector<std::size_t> ends_;
  bool all_ascii_ = true;
};

}  // namespace velmora
