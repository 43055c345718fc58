#include "tools/strandel/Table.hpp"

#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <libsmartcols/libsmartcols.h>

#include "text/CharacterClass.hpp"
#include "text/ControlEscape.hpp"

namespace strandel::tool {
namespace {

// Column names are ASCII: they are folded without the locale, whose rules are not ASCII's
// (under tr_TR "i" is not the lower case of "I").

bool sameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](char x, char y) { return text::asciiUpper(x) == text::asciiUpper(y); });
}

std::vector<std::size_t> defaultColumns(std::span<const ColumnSpec> columns) {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].byDefault) chosen.push_back(i);
  }
  return chosen;
}

// The columns of an -o list, in its order: the defaults when it is empty, the defaults and
// then its own when it starts with "+", as lsblk reads it.
std::vector<std::size_t> chosenColumns(std::span<const ColumnSpec> columns, std::string_view list) {
  if (list.empty()) return defaultColumns(columns);
  std::vector<std::size_t> chosen;
  if (list.starts_with('+')) {
    chosen = defaultColumns(columns);
    list.remove_prefix(1);
  }
  while (true) {
    std::size_t comma = list.find(',');
    std::string_view name = list.substr(0, comma);
    auto found = std::ranges::find_if(
        columns, [name](const ColumnSpec& c) { return sameName(c.name, name); });
    if (found == columns.end()) throw UsageError{"unknown column '" + std::string(name) + "'"};
    std::size_t index = static_cast<std::size_t>(found - columns.begin());
    if (std::ranges::find(chosen, index) != chosen.end())
      throw UsageError{"column '" + std::string(name) + "' given twice"};
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
// tables measure characters rather than bytes. Done by the first table rather than at start:
// only tables read it, and loading the locale is 2% of the instructions of a short command
// (`strandel bytes 1`).
void useUtf8CharacterType() {
  if (std::setlocale(LC_CTYPE, "") && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
  // A C or non-UTF-8 locale: the names are UTF-8 whatever the locale says.
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C");
}

std::string lowerName(std::string_view name) { return text::asciiLowercased(name); }

}  // namespace

Table::Table(std::span<const ColumnSpec> columns, const TableOptions& options, Format format)
    : columns_(columns),
      chosen_(chosenColumns(columns, options.columns)),
      shown_(columns.size(), nullptr),
      raw_(options.raw),
      noHeadings_(options.noHeadings) {
  if (format != Format::Text) return;
  table_.reset(scols_new_table());
  if (!table_) throw std::bad_alloc();
  static const bool utf8 = (useUtf8CharacterType(), true);
  (void)utf8;
  scols_table_enable_noheadings(table_.get(), options.noHeadings);
  scols_table_enable_raw(table_.get(), options.raw);
  // The cells come escaped by the tool's own rule, the one its other text answers follow; a
  // raw table keeps the library's encoding, which also writes blanks as \x20.
  scols_table_enable_noencoding(table_.get(), !options.raw);
  scols_table_set_termforce(table_.get(),
                            fitsAWidth() ? SCOLS_TERMFORCE_ALWAYS : SCOLS_TERMFORCE_NEVER);
  // When the tree's column is left out the first column shown draws it, so that children still
  // show as children. Raw lines have no drawing: they come in the order they were added, which
  // callers keep to the tree's.
  bool treeShown = std::ranges::any_of(
      chosen_, [&](std::size_t i) { return (columns[i].flags & SCOLS_FL_TREE) != 0; });
  bool treeWanted = !raw_ && std::ranges::any_of(columns, [](const ColumnSpec& c) {
    return (c.flags & SCOLS_FL_TREE) != 0;
  });
  for (std::size_t index : chosen_) {
    const ColumnSpec& wanted = columns[index];
    int flags = raw_ ? wanted.flags & ~SCOLS_FL_TREE : wanted.flags;
    if (treeWanted && !treeShown && index == chosen_.front())
      flags = (flags | SCOLS_FL_TREE) & ~SCOLS_FL_RIGHT;
    libscols_column* column =
        scols_table_new_column(table_.get(), wanted.name, wanted.widthHint, flags);
    if (!column) throw std::bad_alloc();
    shown_[index] = column;
  }
}

void Table::Unref::operator()(libscols_table* table) const noexcept { scols_unref_table(table); }

Table::Line Table::addLine(const Line* parent) {
  if (!table_) {
    rows_.emplace_back(columns_.size());
    return Line{nullptr, rows_.size() - 1};
  }
  libscols_line* line =
      scols_table_new_line(table_.get(), raw_ || !parent ? nullptr : parent->text);
  if (!line) throw std::bad_alloc();
  return Line{line, 0};
}

void Table::set(const Line& line, std::size_t column, const std::string& text,
                const PlistValue& value) {
  if (column >= shown_.size()) return;
  if (!table_) {
    if (line.row < rows_.size()) rows_[line.row][column] = value;
    return;
  }
  if (!shown_[column]) return;
  std::string shown = raw_ ? text : text::escapedControls(text, text::LineBreaks::Escape);
  if (scols_line_set_column_data(line.text, shown_[column], shown.c_str()) != 0)
    throw std::bad_alloc();
}

std::string Table::render() {
  if (!table_) return {};
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

void Table::setKeys(const Line& line, const PlistValue& record) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!columns_[i].key) continue;
    if (const PlistValue* value = record.find(columns_[i].key))
      set(line, i, cellText(*value), *value);
  }
}

std::string cellText(const PlistValue& value) {
  if (const std::string* text = value.asString()) return *text;
  if (const PlistUrl* url = value.asUrl()) return url->text;
  if (auto flag = value.asBoolean()) return *flag ? "true" : "false";
  return writeJson(value);
}

PlistValue Table::rows() const {
  PlistArray out;
  out.reserve(rows_.size());
  for (const auto& row : rows_) {
    if (noHeadings_) {
      PlistArray values;
      for (std::size_t index : chosen_) values.push_back(row[index].value_or(PlistValue()));
      out.emplace_back(std::move(values));
    } else {
      PlistDict values;
      for (std::size_t index : chosen_)
        values[lowerName(columns_[index].name)] = row[index].value_or(PlistValue());
      out.emplace_back(std::move(values));
    }
  }
  return PlistValue(std::move(out));
}

std::string Table::rowsJson() const {
  if (noHeadings_) return writeJson(rows());
  std::vector<std::string> keys;
  for (std::size_t index : chosen_)
    keys.push_back(writeJson(PlistValue(lowerName(columns_[index].name))) + ":");
  std::string out = "[";
  for (const auto& row : rows_) {
    out += out.size() > 1 ? ",{" : "{";
    for (std::size_t i = 0; i < chosen_.size(); ++i) {
      if (i > 0) out += ',';
      out += keys[i];
      out += writeJson(row[chosen_[i]].value_or(PlistValue()));
    }
    out += '}';
  }
  return out + "]";
}

}  // namespace strandel::tool
