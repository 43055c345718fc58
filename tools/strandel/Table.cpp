#include "tools/strandel/Table.hpp"

#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <new>

#include <libsmartcols/libsmartcols.h>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y)); });
}

std::vector<std::size_t> chosenColumns(std::span<const ColumnSpec> columns, std::string_view list) {
  std::vector<std::size_t> chosen;
  if (list.empty()) {
    for (std::size_t i = 0; i < columns.size(); ++i) chosen.push_back(i);
    return chosen;
  }
  while (true) {
    std::size_t comma = list.find(',');
    std::string_view name = list.substr(0, comma);
    auto found = std::ranges::find_if(columns, [name](const ColumnSpec& c) { return sameName(c.name, name); });
    if (found == columns.end()) throw UsageError{"unknown column '" + std::string(name) + "'"};
    std::size_t index = static_cast<std::size_t>(found - columns.begin());
    if (std::ranges::find(chosen, index) != chosen.end()) throw UsageError{"column '" + std::string(name) + "' given twice"};
    chosen.push_back(index);
    if (comma == std::string_view::npos) return chosen;
    list.remove_prefix(comma + 1);
  }
}

// A terminal gets a table that fits its width. Anything else (a file, a pipe, a pager) gets
// every character, as lsblk gives it, so that nothing a script or grep looks for is cut off;
// unless COLUMNS names a width, which is how a caller asks for a fitted table in a pipe.
bool fitsAWidth() {
  if (::isatty(STDOUT_FILENO)) return true;
  const char* columns = std::getenv("COLUMNS");
  return columns && std::atoi(columns) > 0;
}

// Makes the process's character type UTF-8, as every text the tool prints is, so that the
// tables measure and escape characters rather than bytes. Done by the first table rather than
// at start: only tables read it, and loading the locale is 2% of the instructions of a
// short command (`strandel bytes 1`).
void useUtf8CharacterType() {
  if (std::setlocale(LC_CTYPE, "") && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
  // A C or non-UTF-8 locale: the names are UTF-8 whatever the locale says.
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C");
}

}  // namespace

void addTableOptions(CommandBuilder& command, TableOptions& options, std::span<const ColumnSpec> columns) {
  std::string names;
  for (const ColumnSpec& column : columns) names += (names.empty() ? "" : ",") + std::string(column.name);
  command.option("-o,--output", options.columns, "the columns to show, in this order, comma-separated (default: " + names + ")",
                 "LIST");
  command.flag("-n,--noheadings", options.noHeadings, "leave out the line of headings");
  command.flag("-r,--raw", options.raw,
               "one line per row, columns separated by one space, blanks and unprintable bytes as \\xHH, no tree");
}

Table::Table(std::span<const ColumnSpec> columns, const TableOptions& options)
    : table_(scols_new_table()), shown_(columns.size(), nullptr) {
  if (!table_) throw std::bad_alloc();
  static const bool utf8 = (useUtf8CharacterType(), true);
  (void)utf8;
  std::vector<std::size_t> chosen = chosenColumns(columns, options.columns);
  scols_table_enable_noheadings(table_.get(), options.noHeadings);
  scols_table_enable_raw(table_.get(), options.raw);
  scols_table_set_termforce(table_.get(), fitsAWidth() ? SCOLS_TERMFORCE_ALWAYS : SCOLS_TERMFORCE_NEVER);
  // When the tree's column is left out the first column shown draws it, so that children still
  // show as children. Raw lines have no drawing: they come in the order they were added, which
  // callers keep to the tree's.
  raw_ = options.raw;
  bool treeShown = std::ranges::any_of(chosen, [&](std::size_t i) { return (columns[i].flags & SCOLS_FL_TREE) != 0; });
  bool treeWanted = !raw_ && std::ranges::any_of(columns, [](const ColumnSpec& c) { return (c.flags & SCOLS_FL_TREE) != 0; });
  for (std::size_t index : chosen) {
    const ColumnSpec& wanted = columns[index];
    int flags = raw_ ? wanted.flags & ~SCOLS_FL_TREE : wanted.flags;
    if (treeWanted && !treeShown && index == chosen.front()) flags = (flags | SCOLS_FL_TREE) & ~SCOLS_FL_RIGHT;
    libscols_column* column = scols_table_new_column(table_.get(), wanted.name, wanted.widthHint, flags);
    if (!column) throw std::bad_alloc();
    shown_[index] = column;
  }
}

void Table::Unref::operator()(libscols_table* table) const noexcept { scols_unref_table(table); }

libscols_line* Table::addLine(libscols_line* parent) {
  libscols_line* line = scols_table_new_line(table_.get(), raw_ ? nullptr : parent);
  if (!line) throw std::bad_alloc();
  return line;
}

void Table::set(libscols_line* line, std::size_t column, const std::string& text) {
  if (column >= shown_.size() || !shown_[column]) return;
  if (scols_line_set_column_data(line, shown_[column], text.c_str()) != 0) throw std::bad_alloc();
}

std::string Table::render() {
  char* text = nullptr;
  if (scols_print_table_to_string(table_.get(), &text) != 0 || !text) {
    std::free(text);
    throw std::bad_alloc();
  }
  std::string out(text);
  std::free(text);
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

}  // namespace strandel::tool
