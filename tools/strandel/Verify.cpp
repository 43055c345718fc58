// strandel verify VOLUME: the disk utility's verify of one volume, shown as it comes.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include <strandel/StrandelFramework.hpp>

#include "framework/VerifyRunner.hpp"
#include "text/ControlEscape.hpp"
#include "tools/strandel/Command.hpp"
#include "tools/strandel/Found.hpp"

namespace strandel::tool {
namespace {

// Every progress text repeats the whole output so far; a person wants a transcript that grows,
// so only the part not shown yet is printed. A text that is absent (a character cut by a read)
// is skipped: the next one brings its part again. The lines keep their breaks and lose their
// control characters: the disk utility of an image is the image's.
class TranscriptDelegate : public StrandelDelegate {
 public:
  void handleProgress(ProgressText progress) override {
    if (!progress || progress->size() <= shown_) return;
    writeOut(
        text::escapedControls(std::string_view(*progress).substr(shown_), text::LineBreaks::Keep));
    shown_ = progress->size();
  }
  std::size_t shown() const { return shown_; }

 private:
  std::size_t shown_ = 0;
};

// Exit status of a verify whose disk utility ran and failed: told apart from a volume that is
// not there (1) and a usage error (2).
constexpr int kDiskUtilityFailed = 3;

// A volume that is there whose disk utility failed exits so that a script sees it, with one
// line saying how; the verdict itself is in the transcript.
int statusAfter(int diskUtility) {
  if (diskUtility == 0 || diskUtility == framework::kNoExitStatus) return 0;
  sayError("the disk utility failed (exit status " + std::to_string(diskUtility) + ")");
  return kDiskUtilityFailed;
}

int runVerify(const Context& context, const std::string& volume) {
  StrandelFramework framework;
  std::shared_ptr<TranscriptDelegate> transcript;
  if (context.format == Format::Text) {
    transcript = std::make_shared<TranscriptDelegate>();
    framework.setDelegate(transcript);
  }
  std::string reply;
  int diskUtility =
      framework::verifyVolume(framework, PlistDict{{"selectedVolume", PlistValue(volume)}},
                              [&](std::string& text) { reply = text; });
  // The disk utility says what it could not find in its output, which is kept as it came.
  bool exists = deviceExists(context, volume) || mountPointExists(volume);
  if (!transcript) {
    int status = printAnswerAbout(context, PlistValue(reply), exists, "no volume '" + volume + "'");
    return status != 0 ? status : statusAfter(diskUtility);
  }
  // The reply begins with everything shown so far; what follows it was not valid UTF-8 while
  // it came and arrives here with its bad bytes marked.
  std::string_view rest =
      std::string_view(reply).substr(std::min(transcript->shown(), reply.size()));
  writeOut(text::escapedControls(rest, text::LineBreaks::Keep));
  if (!reply.empty() && reply.back() != '\n') writeOut("\n");
  if (exists) return statusAfter(diskUtility);
  sayError("no volume '" + volume + "'");
  return 1;
}

}  // namespace

void addVerifyCommand(CommandBuilder& tool, Context& context) {
  CommandBuilder command =
      tool.subcommand("verify",
                      "verify a volume with the disk utility, showing its output as it comes "
                      "(json, plist: the whole output at the end); its verdict is in the output; "
                      "exit 1 when no volume answers to VOLUME, 3 when the disk utility failed");
  auto volume = std::make_shared<std::string>();
  command.argument("VOLUME", *volume,
                   "the volume: a BSD name (disk3s1), a device path or a mount point");
  command.onChosen([&context, volume] {
    context.run = [&context, volume] { return runVerify(context, *volume); };
  });
}

}  // namespace strandel::tool
