// Text tables for people, laid out by libsmartcols as lsblk's and findmnt's are: they fit the
// terminal, measure wide characters by their cells and show control characters escaped. The
// same rows serve a script: with -o or -n, JSON and plist show them as lsblk -J does.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "tools/strandel/Command.hpp"

struct libscols_table;
struct libscols_line;
struct libscols_column;

namespace strandel::tool {

/// One column a table can show.
struct ColumnSpec {
  const char* name;  // the heading, also the name -o/--output takes (in any case)
  double widthHint;  // < 1: a share of the terminal's width; >= 1: a width in cells
  int flags;         // SCOLS_FL_* flags
  const char* help;  // what it shows, for --help
  bool byDefault = true;
  const char* key = nullptr;  // the answer's key whose value the column shows, when it shows one
};

/// A value of an answer as a cell shows it: text as it stands, a URL as its text, a boolean
/// as true or false, anything else as JSON.
std::string cellText(const PlistValue& value);

/// What the table options of a command chose.
struct TableOptions {
  std::string columns;  // -o/--output: comma-separated names, "+" first to add to the defaults
  bool noHeadings = false;
  bool raw = false;
};

/// A table being filled. Cells are set by the index of their column in the descriptions; the
/// columns that the options leave out take nothing.
class Table {
 public:
  /// Refuses an unknown column name in `options.columns` as a usage error. `format` Text
  /// lays out text; the others keep the cells' values for rows().
  Table(std::span<const ColumnSpec> columns, const TableOptions& options,
        Format format = Format::Text);

  /// A line being filled.
  struct Line {
    libscols_line* text = nullptr;
    std::size_t row = 0;
  };
  /// A new line at the end of the table, or as the last child of `parent`. Lines are added in
  /// the tree's order (each after its parent and its older siblings' children), which raw
  /// output and the rows keep.
  Line addLine(const Line* parent = nullptr);
  /// The cell shows `text` to people and `value` to a script.
  void set(const Line& line, std::size_t column, const std::string& text, const PlistValue& value);
  void set(const Line& line, std::size_t column, const std::string& text) {
    set(line, column, text, PlistValue(text));
  }
  /// Sets each column that shows a key of `record` to that key's value, if it has the key.
  void setKeys(const Line& line, const PlistValue& record);
  /// The whole table as text, each line ending in a line feed.
  std::string render();
  /// The rows for a script: an array with an object per line keyed by the chosen columns' names
  /// in lower case, or with -n an array of the values in the columns' order. A cell left
  /// unset is "".
  PlistValue rows() const;
  /// rows() as JSON with each object's keys in the columns' order, as lsblk -J -o writes them
  /// (a dictionary would sort them).
  std::string rowsJson() const;

 private:
  struct Unref {
    void operator()(libscols_table* table) const noexcept;
  };
  std::span<const ColumnSpec> columns_;
  std::vector<std::size_t> chosen_;
  // Owned from the first line of the constructor, so a refused column list frees it too.
  std::unique_ptr<libscols_table, Unref> table_;
  std::vector<libscols_column*> shown_;  // by description index; null when left out
  std::vector<std::vector<std::optional<PlistValue>>> rows_;  // by row, then description index
  bool raw_ = false;
  bool noHeadings_ = false;
};

/// What a table command shows: its columns, and how the rows of its answer fill a table.
struct TableCommand {
  std::span<const ColumnSpec> columns;
  /// Puts the answer's rows in the table.
  std::function<void(Table& table, const PlistValue& answer)> fill;
  /// The text for people, given the answer and the table filled from it (most render it;
  /// some say something else of an empty answer or add a summary line).
  std::function<std::string(const PlistValue& answer, Table& table)> text;
};

/// How a table command's answer is printed: `answer` is what printAnswer takes (the library's
/// answer, or the rows when -o or -n was given in JSON or plist) and `text` the table for people.
struct TableAnswer {
  std::optional<PlistValue> answer;
  std::function<std::string(const PlistValue&)> text;
  std::function<std::string(const PlistValue&)>
      json;  // the rows' JSON in column order, when rows are shown
};

/// Adds a command named `name` that answers with a table: its table options, the column check
/// once the command line is read (an unknown column is a usage error before anything is asked),
/// and the note of a missing disk registry. `run` gives the exit status; it hands the library's
/// answer to `show` and prints what that gives. The command's own arguments are added by the
/// caller on the builder this gives.
CommandBuilder addTableCommand(
    CommandBuilder& tool, Context& context, const std::string& name, const std::string& description,
    TableCommand table,
    std::function<int(const Context& context,
                      const std::function<TableAnswer(PlistValue answer)>& show)>
        run);

}  // namespace strandel::tool
