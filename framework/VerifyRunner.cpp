// The verify runner: the disk utility through the shell, its output handed to the delegate
// after every read and to a reply callback at the end.
#include <array>
#include <charconv>
#include <optional>
#include <string>

#include <strandel/StrandelFramework.hpp>

#include "base/Utf8.hpp"
#include "framework/Progress.hpp"
#include "framework/VerifyRunner.hpp"
#include "platform/Machine.hpp"
#include "text/CharacterClass.hpp"
#include "text/ShellQuote.hpp"

namespace strandel {
namespace {

// One read brings at most 2047 bytes: the progress arrives line by line, and a longer line in
// pieces of that size.
constexpr std::size_t kReadBufferSize = 2048;

// Runs "/usr/sbin/diskutil <arguments>" through the shell and reports every read into `output`.
// A command that can't be started leaves `output` empty and reports nothing. Output past the
// cap ends the run (closing the stream early ends the command) and leaves `output` exhausted.
// How the command ended, when it ran to its end; else kNoExitStatus.
int runDiskUtility(StrandelFramework& object, std::string_view arguments,
                   framework::ProgressBuffer& output) {
  // The shell receives a C string: an argument text with a NUL in it ends there.
  arguments = arguments.substr(0, arguments.find('\0'));
  auto stream = platform::current()->processes().openShell("/usr/sbin/diskutil", arguments);
  if (!stream) return framework::kNoExitStatus;
  std::array<char, kReadBufferSize> buffer;
  while (auto count = stream->readPiece(buffer.data(), buffer.size())) {
    framework::reportPiece(object, output, std::string_view(buffer.data(), *count));
    if (output.exhausted()) break;
  }
  return stream->close().value_or(framework::kNoExitStatus);
}

// The volume a request names, as the text the disk utility is given: a string as it stands, a
// number or boolean in its textual form. A request without "selectedVolume", or naming it with
// a value that has no textual form (data, a date, a container), names nothing, and is refused
// rather than running a verify of something the host did not mean. So is a text with a NUL in
// it, which no program can receive as an argument.
std::optional<std::string> selectedVolume(const PlistDict& request) {
  auto entry = request.find("selectedVolume");
  if (entry == request.end()) return std::nullopt;
  const PlistValue& value = entry->second;
  if (const std::string* text = value.asString()) {
    if (text::hasNul(*text)) return std::nullopt;
    return *text;
  }
  if (auto number = value.asInteger()) return std::to_string(*number);
  if (auto number = value.asUnsignedInteger()) return std::to_string(*number);
  // A boolean's textual form is its number, 1 or 0; a real's is its shortest text that reads
  // back as the same number ("0.5", "3", "1e+20"), with no locale in the way.
  if (auto flag = value.asBoolean()) return *flag ? "1" : "0";
  if (auto number = value.asReal()) {
    std::array<char, 32> digits;
    auto result = std::to_chars(digits.data(), digits.data() + digits.size(), *number);
    return std::string(digits.data(), result.ptr);
  }
  return std::nullopt;
}

// Output that is not valid UTF-8 still reaches the host, each bad byte as U+FFFD: the person
// reading the verify learns more from a marked transcript than from nothing.
std::string textWithReplacements(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t length = base::utf8SequenceLength(bytes.substr(i));
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      ++i;
    } else {
      text.append(bytes.substr(i, length));
      i += length;
    }
  }
  return text;
}

}  // namespace

std::vector<std::uint8_t> StrandelFramework::diskUtilityCmd(std::string_view arguments) {
  framework::ProgressBuffer output;
  runDiskUtility(*this, arguments, output);
  // An output over the cap is no answer, as one that printed nothing usable.
  if (output.exhausted()) return {};
  auto bytes = reinterpret_cast<const std::uint8_t*>(output.bytes().data());
  return std::vector<std::uint8_t>(bytes, bytes + output.bytes().size());
}

// The library's own verify leaves the disk utility's exit status unread: its verdict is in
// its output. The tool reads it, to exit as a script expects.
void StrandelFramework::runWith(const PlistDict& request,
                                const std::function<void(std::string&)>& reply) {
  framework::verifyVolume(*this, request, reply);
}

int framework::verifyVolume(StrandelFramework& object, const PlistDict& request,
                            const std::function<void(std::string&)>& reply) {
  std::string text;
  int status = framework::kNoExitStatus;
  if (auto volume = selectedVolume(request)) {
    // The volume is one inert word whatever it holds (blanks, quotes, $(...), a line feed): the
    // tool receives exactly "verifyVolume" and the volume text.
    framework::ProgressBuffer output;
    status = runDiskUtility(object, "verifyVolume " + text::shellQuoted(*volume), output);
    if (output.exhausted()) {
      status = framework::kNoExitStatus;
    } else {
      text =
          output.isValidUtf8() ? std::string(output.bytes()) : textWithReplacements(output.bytes());
    }
  }
  if (reply) reply(text);
  return status;
}

}  // namespace strandel
