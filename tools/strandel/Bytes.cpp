// strandel bytes [N] · bytes --label N · bytes --mb N: the byte texts.
#include <charconv>
#include <memory>

#include <strandel/Strandel.hpp>
#include <strandel/StrandelFramework.hpp>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

// A byte count in the forms people type: decimal with an optional sign and exponent ("1536",
// "-5", "+2.5e3", "1e27"), and "inf"/"nan" (any case), whose texts the library defines.
// Hexadecimal floats, blanks, trailing text and counts beyond a double's range are refused
// rather than read as something other than what was typed.
double parseByteCount(const std::string& text) {
  std::string_view digits = text;
  if (digits.starts_with('+') && !digits.substr(1).starts_with('-')) digits.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                      std::chars_format::general);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    throw UsageError{"bytes: N must be a number of bytes such as 1536, -5 or 1e27, not \"" + text +
                     "\""};
  }
  return value;
}

}  // namespace

void addBytesCommand(CommandBuilder& tool, Context& context) {
  struct Arguments {
    std::string count;
    bool label = false;
    bool mb = false;
  };
  auto arguments = std::make_shared<Arguments>();
  CommandBuilder bytes = tool.subcommand(
      "bytes", "a byte count as text (\"1.54 KB\"); without N, the text of an absent count");
  Presence count = bytes.optionalArgument(
      "N", arguments->count,
      "the byte count: 1536, -5, 2.5e3, inf or nan (put -- before a count that starts with -)");
  bytes.flag("--label", arguments->label,
             "the framework object's byte label of N instead (decimal units, \"1.54 KB\")");
  bytes.flag("--mb", arguments->mb,
             "N rounded down to whole mebibytes: \"476940M\" and the rounded count (json: "
             "{\"text\": ..., \"bytes\": ...})");
  bytes.exclusive("--label", "--mb");
  bytes.onChosen([&context, arguments, count] {
    std::optional<double> n;
    if (count.given()) n = parseByteCount(arguments->count);
    if (!n && (arguments->label || arguments->mb)) {
      throw UsageError{std::string("bytes ") + (arguments->label ? "--label" : "--mb") +
                       " needs a number N"};
    }
    if (arguments->label) {
      context.run = [&context, n] {
        return printAnswer(context, PlistValue(StrandelFramework().unitizedBytes(*n)));
      };
    } else if (arguments->mb) {
      context.run = [&context, n] {
        double rounded = *n;
        std::string text = ZVFoundationRoundByteCountToMBAndString(rounded);
        PlistDict answer{{"text", PlistValue(std::move(text))}, {"bytes", PlistValue(rounded)}};
        return printAnswer(context, PlistValue(std::move(answer)), [](const PlistValue& value) {
          return *value.find("text")->asString() + " (" + writeJson(*value.find("bytes")) +
                 " bytes)";
        });
      };
    } else {
      context.run = [&context, n] {
        return printAnswer(context, PlistValue(ZVFoundationConvertBytesToStringValue(n)));
      };
    }
  });
}

}  // namespace strandel::tool
