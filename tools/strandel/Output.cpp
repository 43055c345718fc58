#include <cstdio>
#include <string>

#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

std::string plainText(const PlistValue& value) {
  if (auto* s = value.asString()) return *s;
  if (auto* u = value.asUrl()) return u->text;
  if (auto b = value.asBoolean()) return *b ? "true" : "false";
  return writeJson(value);
}

void writeOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int printAnswer(const Context& context, const std::optional<PlistValue>& answer,
                const std::function<std::string(const PlistValue&)>& text) {
  switch (context.format) {
    case Format::Json:
      writeOut((answer ? writeJson(*answer) : std::string("null")) + "\n");
      break;
    case Format::Plist:
      if (answer) {
        writeOut(writeXmlPlist(*answer));
      } else {
        writeOut(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"/>\n");
      }
      break;
    case Format::Text:
      if (answer) {
        std::string shown = text ? text(*answer) : plainText(*answer);
        if (!shown.empty() && shown.back() != '\n') shown += '\n';
        writeOut(shown);
      }
      break;
  }
  return 0;
}

}  // namespace strandel::tool
