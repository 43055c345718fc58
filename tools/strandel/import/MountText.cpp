#include "tools/strandel/import/MountText.hpp"

#include <charconv>

#include "text/CharacterClass.hpp"

namespace strandel::importer {
namespace {

std::optional<std::uint64_t> number(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A size as df -h prints it: "233Gi", "190Ki", "0Bi" (powers of 1024, from macOS 10.6), or
// "466G" without the "i". Rounded by df to three digits.
std::optional<std::uint64_t> humanSize(std::string_view text) {
  if (text.ends_with('i')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  constexpr std::string_view kUnits = "BKMGTP";
  std::size_t power = kUnits.find(text.back());
  if (power == std::string_view::npos) return std::nullopt;
  text.remove_suffix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !(value >= 0) || value >= 1e5)
    return std::nullopt;
  for (std::size_t i = 0; i < power; ++i) value *= 1024;
  return static_cast<std::uint64_t>(value);
}

// The unit of df's counts, from its header: "512-blocks" (df alone), "1024-blocks" (df -k), or
// "Size" (df -h: sizes with units, unit 1 here).
std::uint32_t dfUnit(std::string_view dfText) {
  for (std::string_view line : textLines(dfText)) {
    if (!line.starts_with("Filesystem")) continue;
    if (line.find("512-blocks") != std::string_view::npos) return 512;
    if (line.find(" Size ") != std::string_view::npos) return 1;
    return 1024;
  }
  return 1024;
}

}  // namespace

std::vector<std::string_view> textLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::optional<std::string_view> labelledValue(std::string_view text, std::string_view label) {
  for (std::string_view line : textLines(text)) {
    if (line.size() > label.size() && line.starts_with(label) && line[label.size()] == ':')
      return text::trimmed(line.substr(label.size() + 1));
  }
  return std::nullopt;
}

std::optional<MountLine> parseMountLine(std::string_view line) {
  // Fields: 1 the source, " on ", 2 the mount point, " (", 3 the type, then ", " and the
  // options, and ")" at the end of the line.
  if (!line.ends_with(')')) return std::nullopt;
  std::size_t on = line.find(" on ");
  std::size_t open = line.rfind(" (");
  if (on == std::string_view::npos || open == std::string_view::npos || open < on + 4)
    return std::nullopt;
  MountLine entry;
  entry.from = std::string(line.substr(0, on));
  entry.on = std::string(line.substr(on + 4, open - (on + 4)));
  std::string_view inside = line.substr(open + 2, line.size() - 1 - (open + 2));
  std::size_t comma = inside.find(',');
  entry.type = std::string(text::trimmed(inside.substr(0, comma)));
  while (comma != std::string_view::npos) {
    inside.remove_prefix(comma + 1);
    comma = inside.find(',');
    if (std::string_view option = text::trimmed(inside.substr(0, comma)); !option.empty())
      entry.options.emplace_back(option);
  }
  if (entry.from.empty() || entry.on.empty() || entry.type.empty()) return std::nullopt;
  return entry;
}

std::optional<DfRow> findDfRow(std::string_view dfText, std::string_view from,
                               std::string_view on) {
  std::uint32_t unit = dfUnit(dfText);
  auto count = [unit](std::string_view text) { return unit == 1 ? humanSize(text) : number(text); };
  for (std::string_view line : textLines(dfText)) {
    if (line.size() < from.size() + on.size() + 2) continue;
    if (!line.starts_with(from) || !text::isBlank(line[from.size()])) continue;
    if (!line.ends_with(on) || !text::isBlank(line[line.size() - on.size() - 1])) continue;
    std::string_view middle = line.substr(from.size(), line.size() - on.size() - from.size());
    // Columns between the names: 1024-blocks, Used, Available, Capacity, and on newer
    // systems iused, ifree, %iused.
    std::vector<std::string_view> columns;
    middle = text::trimmed(middle);
    while (!middle.empty()) {
      std::size_t end = 0;
      while (end < middle.size() && !text::isBlank(middle[end])) ++end;
      columns.push_back(middle.substr(0, end));
      middle = text::trimmed(middle.substr(end));
    }
    // Anything else is a longer name that merely ends like this one.
    if ((columns.size() != 4 && columns.size() != 7) || !columns[3].ends_with('%')) continue;
    auto blocks = count(columns[0]);
    auto used = count(columns[1]);
    auto available = count(columns[2]);
    if (!blocks || !used || !available) continue;
    return DfRow{*blocks, *used, *available, unit};
  }
  return std::nullopt;
}

StatfsFigures figuresFromDf(const DfRow& row) {
  std::uint64_t freeBlocks = row.blocks >= row.used ? row.blocks - row.used : 0;
  if (row.unit != 1024) {
    // In 512-byte units every count is whole in 512s; df -h's rounded sizes go to whole 4096s.
    if (row.unit == 512 && !(row.blocks % 8 == 0 && freeBlocks % 8 == 0))
      return {512, row.blocks, freeBlocks};
    std::uint64_t scale = row.unit == 512 ? 8 : 4096;
    return {4096, row.blocks / scale, freeBlocks / scale};
  }
  if (row.blocks % 4 == 0 && freeBlocks % 4 == 0) return {4096, row.blocks / 4, freeBlocks / 4};
  return {1024, row.blocks, freeBlocks};
}

}  // namespace strandel::importer
