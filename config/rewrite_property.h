#pragma once

// The property every rewrite must have, for the property test and the fuzzer:
// as many lines out as in, and every line that begins with no folder key
// unchanged byte for byte. Splits the input its own way, not the rewriter's.
#include <string>
#include <string_view>
#include <vector>

#include "config/ini_rewriter.h"
#include "platform/ascii.h"

namespace velmora {

// Empty when the property holds, else what broke it.
inline std::string RewriteViolation(std::string_view text) {
  std::vector<std::string_view> lines;
  const bool cr_alone = text.find('\n') == std::string_view::npos;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != (cr_alone ? '\r' : '\n')) continue;
    const std::size_t end = !cr_alone && i > start && text[i - 1] == '\r' ? i - 1 : i;
    lines.push_back(text.substr(start, end - start));
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));

  StringList output;
  AddRewrittenLines(text, output);
  if (output.ListCount() != lines.size())
    return "line count " + std::to_string(output.ListCount()) + " for " + std::to_string(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    bool keyed = false;
    for (std::string_view key : {"SEASONDIR", "OPTIONSDIR", "REPLAYDIR", "SAVEDIR"}) {
      if (!StartsWithIgnoringCase(lines[i], key)) continue;
      keyed = true;
      if (output.List(i).substr(0, key.size() + 1) != std::string(key) + "=") return "line " + std::to_string(i) + " not replaced";
    }
    if (!keyed && output.List(i) != lines[i]) return "line " + std::to_string(i) + " changed";
  }
  const std::string joined = JoinLines(output);
  std::size_t ends = 0;
  for (std::size_t at = joined.find("\r\n"); at != std::string::npos; at = joined.find("\r\n", at + 2)) ++ends;
  if (ends < lines.size() || (!lines.empty() && joined.substr(joined.size() - 2) != "\r\n"))
    return "line ends missing";
  return "";
}

}  // namespace velmora
