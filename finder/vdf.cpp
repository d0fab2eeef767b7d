#include "finder/vdf.h"

#include <optional>

#include "platform/ascii.h"

namespace velmora {
namespace {

constexpr int kDeepest = 32;

class VdfReader {
 public:
  explicit VdfReader(std::string_view text) : text_(text) {}

  // The nodes up to the end of the current block (`depth` > 0) or text.
  std::vector<VdfNode> Nodes(int depth) {
    std::vector<VdfNode> nodes;
    for (;;) {
      const std::optional<Token> key = Next();
      if (!key || key->kind == Token::kClose) return nodes;
      if (key->kind != Token::kWord) continue;  // a stray "{" is passed over
      std::optional<Token> value = Next();
      if (value && value->kind == Token::kCondition) value = Next();  // "[$WIN32]" between key and value
      if (!value) return nodes;
      VdfNode node{key->text, {}, {}, false};
      if (value->kind == Token::kOpen) {
        node.is_block = true;
        if (depth < kDeepest) node.children = Nodes(depth + 1);
        else SkipBlock();
      } else if (value->kind == Token::kWord) {
        node.value = std::move(value->text);
      } else {
        return nodes;  // "}" right after a key: the block ends
      }
      nodes.push_back(std::move(node));
    }
  }

 private:
  struct Token {
    enum Kind { kWord, kOpen, kClose, kCondition } kind;
    std::string text = {};
  };

  void SkipBlock() {
    for (int open = 1; open > 0;) {
      const std::optional<Token> token = Next();
      if (!token) return;
      if (token->kind == Token::kOpen) ++open;
      if (token->kind == Token::kClose) --open;
    }
  }

  std::optional<Token> Next() {
    for (;;) {
      while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
      if (at_ >= text_.size()) return std::nullopt;
      if (text_.substr(at_, 2) == "//") {
        while (at_ < text_.size() && text_[at_] != '\n') ++at_;
        continue;
      }
      break;
    }
    const char c = text_[at_];
    if (c == '{') return ++at_, Token{Token::kOpen};
    if (c == '}') return ++at_, Token{Token::kClose};
    if (c == '[') {
      while (at_ < text_.size() && text_[at_] != ']') ++at_;
      ++at_;
      return Token{Token::kCondition};
    }
    Token word{Token::kWord};
    if (c == '"') {
      for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
        if (text_[at_] == '\\' && at_ + 1 < text_.size()) {
          const char escaped = text_[++at_];
          word.text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
        } else {
          word.text += text_[at_];
        }
      }
      ++at_;
      return word;
    }
    // An unquoted word runs to a space, a brace or a quote.
    while (at_ < text_.size() && !IsSpace(text_[at_]) && text_[at_] != '{' && text_[at_] != '}' && text_[at_] != '"')
      word.text += text_[at_++];
    return word;
  }

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

const VdfNode* VdfNode::Find(std::string_view wanted) const {
  for (const VdfNode& child : children)
    if (EqualsIgnoringCase(child.key, wanted)) return &child;
  return nullptr;
}

std::string VdfNode::ValueOf(std::string_view wanted) const {
  const VdfNode* child = Find(wanted);
  return child && !child->is_block ? child->value : "";
}

std::vector<VdfNode> ParseVdf(std::string_view text) { return VdfReader(text).Nodes(0); }

const VdfNode* FindVdfBlock(const std::vector<VdfNode>& nodes, std::string_view key) {
  for (const VdfNode& node : nodes)
    if (node.is_block && EqualsIgnoringCase(node.key, key)) return &node;
  return nullptr;
}

}  // namespace velmora
