#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "text/ControlEscape.hpp"
#include "tools/strandel/Command.hpp"

namespace strandel::tool {
namespace {

std::string plainText(const PlistValue& value) {
  if (auto* s = value.asString()) return *s;
  if (auto* u = value.asUrl()) return u->text;
  if (auto b = value.asBoolean()) return *b ? "true" : "false";
  return writeJson(value);
}

int writeError = 0;  // errno of the first write that failed

}  // namespace

void writeOut(std::string_view text) {
  if (writeError != 0) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    writeError = errno != 0 ? errno : EIO;
  }
}

void sayError(std::string_view message) {
  std::string line = "strandel: " + text::escapedControls(message, text::LineBreaks::Escape) + "\n";
  std::fputs(line.c_str(), stderr);
}

int usageError(const std::string& message) {
  sayError(message);
  return 2;
}

int outputStatus(int status) {
  errno = 0;
  if (writeError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    writeError = errno != 0 ? errno : EIO;
  if (writeError == 0) return status;
  if (writeError == EPIPE) return 128 + SIGPIPE;  // what the shell shows had the signal ended it
  std::fprintf(stderr, "strandel: write error on standard output: %s\n", std::strerror(writeError));
  return 1;
}

int printAnswer(const Context& context, const std::optional<PlistValue>& answer,
                const std::function<std::string(const PlistValue&)>& text,
                const std::function<std::string(const PlistValue&)>& json) {
  switch (context.format) {
    case Format::Json:
      writeOut((!answer ? std::string("null") : json ? json(*answer) : writeJson(*answer)) + "\n");
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
        std::string shown =
            text ? text(*answer)
                 : text::escapedControls(plainText(*answer), text::LineBreaks::Escape);
        if (!shown.empty() && shown.back() != '\n') shown += '\n';
        writeOut(shown);
      }
      break;
  }
  return 0;
}

}  // namespace strandel::tool
