// Text tables for people, laid out by libsmartcols as lsblk's and findmnt's are: they fit the
// terminal, measure wide characters by their cells and show control characters escaped.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct libscols_table;
struct libscols_line;
struct libscols_column;

namespace strandel::tool {

class CommandBuilder;

/// One column a table can show.
struct ColumnSpec {
  const char* name;   // the heading, also the name -o/--output takes
  double widthHint;   // < 1: a share of the terminal's width; >= 1: a width in cells
  int flags;          // SCOLS_FL_* flags
};

/// What the table options of a command chose.
struct TableOptions {
  std::string columns;  // -o/--output: comma-separated names; empty: the default columns
  bool noHeadings = false;
  bool raw = false;
};

/// Adds -o/--output, -n/--noheadings and -r/--raw to `command`; the help names `columns`.
void addTableOptions(CommandBuilder& command, TableOptions& options, std::span<const ColumnSpec> columns);

/// A table being filled. Cells are set by the index of their column in the descriptions; the columns
/// that the options leave out take nothing.
class Table {
 public:
  /// Refuses an unknown column name in `options.columns` as a usage error.
  Table(std::span<const ColumnSpec> columns, const TableOptions& options);

  /// A new line at the end of the table, or as the last child of `parent`. Lines are added in
  /// the tree's order (each after its parent and its older siblings' children), which raw
  /// output keeps.
  libscols_line* addLine(libscols_line* parent = nullptr);
  void set(libscols_line* line, std::size_t column, const std::string& text);
  /// The whole table as text, each line ending in a line feed.
  std::string render();

 private:
  struct Unref {
    void operator()(libscols_table* table) const noexcept;
  };
  // Owned from the first line of the constructor, so a refused column list frees it too.
  std::unique_ptr<libscols_table, Unref> table_;
  std::vector<libscols_column*> shown_;  // by description index; null when left out
  bool raw_ = false;
};

}  // namespace strandel::tool
