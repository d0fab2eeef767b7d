#include "config/ini_rewriter.h"

#include <algorithm>
#include <array>
#include <optional>

#include "platform/ascii.h"

namespace velmora {
namespace {

struct FolderKey {
  std::string_view key;
  std::string_view replacement;
};

constexpr std::array<FolderKey, 4> kFolderKeys = {{
    {"SEASONDIR", "SEASONDIR=ZENTOSEASON\\"},
    {"OPTIONSDIR", "OPTIONSDIR=ZENTOOPTIONS\\"},
    {"REPLAYDIR", "REPLAYDIR=ZENTOVCR\\"},
    {"SAVEDIR", "SAVEDIR=ZENTOSAVE\\"},
}};

// The folder a key's line names: "ZENTOOPTIONS" of "OPTIONSDIR=ZENTOOPTIONS\".
std::string_view FolderOf(const FolderKey& rule) {
  std::string_view folder = rule.replacement.substr(rule.key.size() + 1);
  folder.remove_suffix(1);
  return folder;
}

}  // namespace

std::string_view RewriteLine(std::string_view line) {
  // Nothing is trimmed: a key after a blank or a comment mark is not a key.
  for (const FolderKey& rule : kFolderKeys)
    if (StartsWithIgnoringCase(line, rule.key)) return rule.replacement;
  return line;
}

bool ForEachRewrittenLine(std::string_view text, const std::function<bool(std::string_view line)>& take,
                          Progress& progress) {
  const std::size_t total = text.size();
  // Asked every so many bytes, not for every line: asking reads a clock.
  constexpr std::size_t kBetweenAsks = 64 << 10;
  std::size_t next_ask = kBetweenAsks;
  // A file without a single LF ends its lines with CR alone, as old editors
  // wrote them; read as one line it would lose every setting.
  const char line_end = text.find('\n') == std::string_view::npos ? '\r' : '\n';
  while (!text.empty()) {
    const std::size_t end = text.find(line_end);
    std::string_view line = text.substr(0, end);
    if (line_end == '\n' && end != std::string_view::npos && !line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (!take(RewriteLine(line))) return false;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
    if (const std::size_t done = total - text.size(); done >= next_ask) {
      next_ask = done + kBetweenAsks;
      if (progress.Wanted()) progress.Report(done, total);
    }
  }
  return true;
}

void AddRewrittenLines(std::string_view text, StringList& lines) {
  ForEachRewrittenLine(text, [&](std::string_view line) {
    lines.AddItem(line);
    return true;
  });
}

std::string JoinLines(const StringList& lines) {
  std::size_t size = 0;
  for (std::size_t i = 0; i < lines.ListCount(); ++i) size += lines.List(i).size() + 2;
  std::string text;
  text.reserve(size);
  for (std::size_t i = 0; i < lines.ListCount(); ++i) text.append(lines.List(i)).append("\r\n");
  return text;
}

IniOutcome CreateConfigIni(FileSystem& fs, StringList& new_ini, Progress& progress) {
  new_ini.Clear();
  if (progress.Wanted()) progress.Report(0, 0);
  IniOutcome outcome;
  // A configuration that cannot be read whole writes nothing.
  const Found<std::string> text = fs.ReadFile({std::string(kGameConfig)});
  if (!text) {
    if (text.cause == Cause::kFolderMissing || text.cause == Cause::kVanished) outcome.result = IniOutcome::Result::kNoGameConfig;
    else outcome.result = IniOutcome::Result::kUnreadable;
    outcome.cause = text.cause;
    return outcome;
  }
  if (fs.CaseSensitive({})) {
    // The game opens the name its launch argument spells, and only that.
    outcome.name = kAddonConfigAsOpened;
    const Found<std::vector<Entry>> entries = fs.List({});
    for (const Entry& entry : entries ? *entries : std::vector<Entry>{}) {
      if (entry.name == kAddonConfigAsOpened) outcome.replacing = true;
      else if (outcome.other_spelling.empty() && EqualsIgnoringCase(entry.name, kAddonConfig))
        outcome.other_spelling = entry.name;
    }
  } else {
    outcome.name = kAddonConfig;
    outcome.replacing = fs.NativePath({std::string(kAddonConfig)}).has_value();
  }
  bool season_key = false;
  std::vector<const FolderKey*> named_folders;
  const FileResult written = fs.WriteFile({std::string(outcome.name)}, [&](const auto& put) {
    return ForEachRewrittenLine(
        *text,
        [&](std::string_view line) {
          // A line that begins with the key in any case has become it.
          season_key |= line.starts_with("SEASONDIR=");
          for (const FolderKey& rule : kFolderKeys)
            if (line.data() == rule.replacement.data() && rule.key != "SEASONDIR" &&
                std::find(named_folders.begin(), named_folders.end(), &rule) == named_folders.end())
              named_folders.push_back(&rule);
          return put(line) && put("\r\n");
        },
        progress);
  });
  if (!written) {
    outcome.result = IniOutcome::Result::kNotWritten;
    outcome.cause = written.cause;
    return outcome;
  }
  outcome.no_season_key = !season_key;
  // The game makes none of these folders itself (the add-on brings them).
  if (!named_folders.empty()) {
    const Found<std::vector<Entry>> entries = fs.List({});
    for (const FolderKey* rule : named_folders) {
      const std::string_view folder = FolderOf(*rule);
      const bool there = entries && std::any_of(entries->begin(), entries->end(), [&](const Entry& entry) {
        return entry.kind != EntryKind::kFile && EqualsIgnoringCase(entry.name, folder);
      });
      if (!there) outcome.missing_folders.emplace_back(rule->key, folder);
    }
  }
  return outcome;
}

}  // namespace velmora
