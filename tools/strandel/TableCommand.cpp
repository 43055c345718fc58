// The shape the table commands share: lsblk's options, the column check as soon as the command
// line is read, the note of a missing disk registry, and the answer shown as a table.
#include <memory>

#include "tools/strandel/Table.hpp"

namespace strandel::tool {
namespace {

std::string columnList(std::span<const ColumnSpec> columns) {
  std::string text = "Columns (-o takes them in any case; * marks the defaults):\n";
  for (const ColumnSpec& column : columns) {
    std::string name = std::string(column.byDefault ? "* " : "  ") + column.name;
    text += "  " + name + std::string(name.size() < 18 ? 18 - name.size() : 1, ' ') + column.help +
            "\n";
  }
  return text;
}

void addTableOptions(CommandBuilder& command, TableOptions& options,
                     std::span<const ColumnSpec> columns) {
  command.option("-o,--output", options.columns,
                 "the columns to show, in this order, comma-separated; +LIST adds LIST to the "
                 "defaults. JSON and "
                 "plist then show the rows too, an object per row",
                 "LIST");
  command.flag(
      "-n,--noheadings", options.noHeadings,
      "leave out the line of headings; JSON and plist show the rows, an array of values per row");
  command.flag("-r,--raw", options.raw,
               "one line per row, columns separated by one space, blanks and unprintable bytes as "
               "\\xHH, no tree");
  command.footer(columnList(columns));
}

}  // namespace

CommandBuilder addTableCommand(
    CommandBuilder& tool, Context& context, const std::string& name, const std::string& description,
    TableCommand table,
    std::function<int(const Context& context,
                      const std::function<TableAnswer(PlistValue answer)>& show)>
        run) {
  CommandBuilder command = tool.subcommand(name, description);
  auto options = std::make_shared<TableOptions>();
  auto shape = std::make_shared<const TableCommand>(std::move(table));
  addTableOptions(command, *options, shape->columns);
  command.onChosen([&context, options, shape, run = std::move(run)] {
    Table checked(shape->columns, *options,
                  Format::Json);  // an unknown column is a usage error now
    context.run = [&context, options, shape, run] {
      noteMissingHostService(context, HostService::DiskRegistry);
      return run(context, [&](PlistValue answer) -> TableAnswer {
        bool rowsWanted = !options->columns.empty() || options->noHeadings;
        if (context.format != Format::Text && rowsWanted) {
          auto rows = std::make_shared<Table>(shape->columns, *options, context.format);
          shape->fill(*rows, answer);
          return {rows->rows(), {}, [rows](const PlistValue&) { return rows->rowsJson(); }};
        }
        auto text = [options, shape](const PlistValue& shown) {
          Table people(shape->columns, *options);
          shape->fill(people, shown);
          return shape->text(shown, people);
        };
        return {std::move(answer), text, {}};
      });
    };
  });
  return command;
}

}  // namespace strandel::tool
