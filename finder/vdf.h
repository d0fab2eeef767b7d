#pragma once

// Valve's KeyValues text (VDF), as Steam writes libraryfolders.vdf and its
// appmanifest_<id>.acf files: keys with a quoted value or a block of their
// own, escapes, comments and conditions ("[$WIN32]"), read into a tree.
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct VdfNode {
  std::string key;
  std::string value;  // empty for a block
  std::vector<VdfNode> children;
  bool is_block = false;

  // The first child called `key` (in any letter case), or null.
  const VdfNode* Find(std::string_view key) const;
  // The value of that child when it is no block; empty otherwise.
  std::string ValueOf(std::string_view key) const;
};

// The nodes at the top of `text`. What cannot be read ends the reading:
// the nodes read until then stay. Blocks nested deeper than is sane are
// passed over.
std::vector<VdfNode> ParseVdf(std::string_view text);

// The first top-level block called `key`, in any letter case, or null.
const VdfNode* FindVdfBlock(const std::vector<VdfNode>& nodes, std::string_view key);

}  // namespace velmora
