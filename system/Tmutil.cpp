// The Time Machine tool query.
#include "system/Tmutil.hpp"

#include "platform/Machine.hpp"

namespace strandel::system {

std::optional<PlistValue> runTmutil(const std::vector<std::string>& arguments) {
  platform::ToolRunOptions options;
  options.tool = "/usr/bin/tmutil";
  options.arguments = arguments;
  options.environment = platform::Environment::Empty;
  // A tool that can't be started answers as one that printed no property list: the host only
  // ever tells a value from nothing.
  auto output = platform::current()->processes().runTool(options);
  if (!output) return std::nullopt;
  return readPlist(output->bytes);
}

}  // namespace strandel::system
