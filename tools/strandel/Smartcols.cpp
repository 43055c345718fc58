// The libsmartcols calls of the tool's text tables (Table.cpp), with the library loaded when the
// first table is made rather than at every start: most commands print no table, and loading it
// cost a small command a quarter of its time. Each call keeps libsmartcols' own name and
// signature, so Table.cpp reads as plain libsmartcols; these definitions are hidden, so the
// library's own calls never reach them. Without the library no table can be made, which the
// table code already answers (a null table); every other call needs a table.
#include <libsmartcols/libsmartcols.h>

#include <optional>

#include "base/LoadedLibrary.hpp"

namespace {

struct SmartcolsCalls {
  decltype(&scols_new_table) newTable;
  decltype(&scols_unref_table) unrefTable;
  decltype(&scols_table_enable_noheadings) enableNoheadings;
  decltype(&scols_table_enable_raw) enableRaw;
  decltype(&scols_table_enable_noencoding) enableNoencoding;
  decltype(&scols_table_set_termforce) setTermforce;
  decltype(&scols_table_new_column) newColumn;
  decltype(&scols_table_new_line) newLine;
  decltype(&scols_line_set_column_data) setColumnData;
  decltype(&scols_print_table_to_string) printToString;
};

std::optional<SmartcolsCalls> load() {
  using strandel::base::bindCall;
  void* library = strandel::base::loadLibrary("libsmartcols.so.1");
  if (!library) return std::nullopt;
  SmartcolsCalls calls{};
  bool bound = bindCall(library, "scols_new_table", calls.newTable) &&
               bindCall(library, "scols_unref_table", calls.unrefTable) &&
               bindCall(library, "scols_table_enable_noheadings", calls.enableNoheadings) &&
               bindCall(library, "scols_table_enable_raw", calls.enableRaw) &&
               bindCall(library, "scols_table_enable_noencoding", calls.enableNoencoding) &&
               bindCall(library, "scols_table_set_termforce", calls.setTermforce) &&
               bindCall(library, "scols_table_new_column", calls.newColumn) &&
               bindCall(library, "scols_table_new_line", calls.newLine) &&
               bindCall(library, "scols_line_set_column_data", calls.setColumnData) &&
               bindCall(library, "scols_print_table_to_string", calls.printToString);
  if (!bound) return std::nullopt;
  return calls;
}

// Once per process by nature: the loader keeps one copy of a library however often it is opened.
const SmartcolsCalls* smartcols() {
  static const std::optional<SmartcolsCalls> calls = load();
  return calls ? &*calls : nullptr;
}

}  // namespace

libscols_table* scols_new_table() {
  const SmartcolsCalls* calls = smartcols();
  return calls ? calls->newTable() : nullptr;
}
void scols_unref_table(libscols_table* table) { smartcols()->unrefTable(table); }
int scols_table_enable_noheadings(libscols_table* table, int enable) {
  return smartcols()->enableNoheadings(table, enable);
}
int scols_table_enable_raw(libscols_table* table, int enable) {
  return smartcols()->enableRaw(table, enable);
}
int scols_table_enable_noencoding(libscols_table* table, int enable) {
  return smartcols()->enableNoencoding(table, enable);
}
int scols_table_set_termforce(libscols_table* table, int force) {
  return smartcols()->setTermforce(table, force);
}
libscols_column* scols_table_new_column(libscols_table* table, const char* name, double widthHint,
                                        int flags) {
  return smartcols()->newColumn(table, name, widthHint, flags);
}
libscols_line* scols_table_new_line(libscols_table* table, libscols_line* parent) {
  return smartcols()->newLine(table, parent);
}
int scols_line_set_column_data(libscols_line* line, libscols_column* column, const char* data) {
  return smartcols()->setColumnData(line, column, data);
}
int scols_print_table_to_string(libscols_table* table, char** data) {
  return smartcols()->printToString(table, data);
}
