#include "tools/strandel/import/MountText.hpp"

#include <charconv>

namespace strandel::importer {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<std::uint64_t> number(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
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

std::optional<MountLine> parseMountLine(std::string_view line) {
  // Fields: 1 the source, " on ", 2 the mount point, " (", 3 the type, then ", " and the
  // options, and ")" at the end of the line.
  if (!line.ends_with(')')) return std::nullopt;
  std::size_t on = line.find(" on ");
  std::size_t open = line.rfind(" (");
  if (on == std::string_view::npos || open == std::string_view::npos || open < on + 4) return std::nullopt;
  MountLine entry;
  entry.from = std::string(line.substr(0, on));
  entry.on = std::string(line.substr(on + 4, open - (on + 4)));
  std::string_view inside = line.substr(open + 2, line.size() - 1 - (open + 2));
  std::size_t comma = inside.find(',');
  entry.type = std::string(trimmed(inside.substr(0, comma)));
  while (comma != std::string_view::npos) {
    inside.remove_prefix(comma + 1);
    comma = inside.find(',');
    if (std::string_view option = trimmed(inside.substr(0, comma)); !option.empty()) entry.options.emplace_back(option);
  }
  if (entry.from.empty() || entry.on.empty() || entry.type.empty()) return std::nullopt;
  return entry;
}

std::optional<DfRow> findDfRow(std::string_view dfText, std::string_view from, std::string_view on) {
  for (std::string_view line : textLines(dfText)) {
    if (line.size() < from.size() + on.size() + 2) continue;
    if (!line.starts_with(from) || !isBlank(line[from.size()])) continue;
    if (!line.ends_with(on) || !isBlank(line[line.size() - on.size() - 1])) continue;
    std::string_view middle = line.substr(from.size(), line.size() - on.size() - from.size());
    // Columns between the names: 1024-blocks, Used, Available, Capacity, and on newer
    // systems iused, ifree, %iused.
    std::vector<std::string_view> columns;
    middle = trimmed(middle);
    while (!middle.empty()) {
      std::size_t end = 0;
      while (end < middle.size() && !isBlank(middle[end])) ++end;
      columns.push_back(middle.substr(0, end));
      middle = trimmed(middle.substr(end));
    }
    // Anything else is a longer name that merely ends like this one.
    if ((columns.size() != 4 && columns.size() != 7) || !columns[3].ends_with('%')) continue;
    auto blocks = number(columns[0]);
    auto used = number(columns[1]);
    auto available = number(columns[2]);
    if (!blocks || !used || !available) continue;
    return DfRow{*blocks, *used, *available};
  }
  return std::nullopt;
}

StatfsFigures figuresFromDf(const DfRow& row) {
  std::uint64_t freeBlocks = row.blocks >= row.used ? row.blocks - row.used : 0;
  if (row.blocks % 4 == 0 && freeBlocks % 4 == 0) return {4096, row.blocks / 4, freeBlocks / 4};
  return {1024, row.blocks, freeBlocks};
}

}  // namespace strandel::importer
