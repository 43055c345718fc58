// Loading an image and putting its services together.
#include "platform/image/ImageMachine.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/FileBytes.hpp"
#include "machineimage/NodeRegistry.hpp"
#include "platform/app/AppServices.hpp"
#include "platform/image/ImageServices.hpp"
#include "platform/posix/Processes.hpp"

namespace strandel::platform::image {
namespace {

// Ten thousand registry objects take a few megabytes; this only refuses a file that is
// plainly not a machine description.
constexpr off_t kMaxMachinePlistSize = off_t{512} << 20;

// The image's tools may read the image and write its own tmp/ only. The folders are taken as
// they are now: a tmp/ swapped for a link later is not what the sandbox grants.
std::shared_ptr<const live::Sandbox> sandboxOf(const ImageRoot& root,
                                               const live::SandboxMaker& makeSandbox) {
  std::vector<live::SandboxPath> paths;
  paths.push_back({root.openFile(".", O_PATH | O_DIRECTORY), live::SandboxAccess::Read});
  if (UniqueFd tmp = root.openFile("/tmp", O_PATH | O_DIRECTORY))
    paths.push_back({std::move(tmp), live::SandboxAccess::ReadWrite});
  return makeSandbox(std::move(paths));
}

// How long one run of an image's tool may take: STRANDEL_TOOL_TIMEOUT seconds (a fraction
// allowed), else a minute, which any tool of a real Mac's answers within. A value that is not
// a positive number of seconds up to a day leaves the default.
std::chrono::milliseconds toolTimeLimit() {
  constexpr std::chrono::milliseconds kDefault(60'000);
  const char* text = std::getenv("STRANDEL_TOOL_TIMEOUT");
  if (!text || !*text) return kDefault;
  double seconds = 0;
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, seconds, std::chars_format::fixed);
  if (error != std::errc() || stop != end || !(seconds > 0) || seconds > 86'400) return kDefault;
  return std::max(std::chrono::milliseconds(1),
                  std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
}

// An image is a record of someone else's Mac: its settings stay in memory, fresh for each load,
// unless the process named a settings file.
std::shared_ptr<Settings> chosenSettings() {
  std::string file = chosenSettingsFile();
  return file.empty() ? makeMemorySettings() : makeFileSettings(std::move(file));
}

std::shared_ptr<Machine> makeImageMachine(std::shared_ptr<const machineimage::MachinePlist> plist,
                                          const std::shared_ptr<const ImageRoot>& root,
                                          const live::SandboxMaker& makeSandbox) {
  return std::make_shared<Machine>(MachineServices{
      machineimage::makeNodeRegistry(plist), makeImageMountTable(plist, root),
      makeImageProcesses(live::makeHostProcesses({.sandbox = sandboxOf(*root, makeSandbox),
                                                  .timeLimit = toolTimeLimit()}),
                         root),
      makeImageFiles(plist, root), chosenSettings(), makeBundleLocalizer(), makeStderrLog()});
}

std::string errnoText(int error) { return std::strerror(error); }

// The bytes of machine.plist, or why they can't be had.
struct PlistFile {
  std::optional<std::string> bytes;
  std::string error;
};

// Never through a link: an image's description is its own file, not one of the host's.
PlistFile readMachinePlist(const std::string& path) {
  base::FileBytes file = base::readFileBytes(path, static_cast<std::size_t>(kMaxMachinePlistSize),
                                             base::Links::Refuse);
  switch (file.error) {
    case base::ReadError::None:
      return {std::move(file.bytes), {}};
    case base::ReadError::Missing:
      return {std::nullopt, "missing"};
    case base::ReadError::Link:
      return {std::nullopt, "a link, not a file of the image's own"};
    case base::ReadError::NotRegular:
      return {std::nullopt, "not a file"};
    case base::ReadError::TooLarge:
      return {std::nullopt, "too large for a machine description"};
    case base::ReadError::Failed:
      break;
  }
  return {std::nullopt, "can't be read (" + errnoText(file.systemError) + ")"};
}

}  // namespace

LoadResult loadMachine(std::string_view dir, const live::SandboxMaker& makeSandbox) {
  std::string folder(dir);
  if (folder.empty()) return {nullptr, "machine image: no folder given"};
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string prefix = folder == "/" ? folder : folder + "/";

  struct stat info;
  if (::stat(folder.c_str(), &info) != 0)
    return {nullptr, folder + ": " + (errno == ENOENT ? "missing" : errnoText(errno))};
  if (!S_ISDIR(info.st_mode)) return {nullptr, folder + ": not a folder"};

  std::string plistPath = prefix + "machine.plist";
  PlistFile file = readMachinePlist(plistPath);
  if (!file.bytes) return {nullptr, plistPath + ": " + file.error};
  machineimage::MachinePlistResult parsed =
      machineimage::parseMachinePlistFile(std::move(*file.bytes));
  if (!parsed.plist) return {nullptr, plistPath + ": " + parsed.error};

  std::string rootPath = prefix + "root/";
  // Without its slash, so that a file named root is told apart from a missing folder. A root
  // that is a link could make any folder of the host the image's, "/" included: refused.
  if (::lstat((prefix + "root").c_str(), &info) != 0)
    return {nullptr, rootPath + ": " + (errno == ENOENT ? "missing" : errnoText(errno))};
  if (S_ISLNK(info.st_mode))
    return {nullptr, rootPath + ": a link, not a folder of the image's own"};
  if (!S_ISDIR(info.st_mode)) return {nullptr, rootPath + ": not a folder"};
  // Tools and files are found from the root for the whole life of the machine, so it must not
  // depend on the working folder of the moment.
  std::error_code ignored;
  std::filesystem::path root = std::filesystem::canonical(rootPath, ignored);
  auto imageRoot = root.empty() ? nullptr : ImageRoot::open(root.string());
  if (!imageRoot) return {nullptr, rootPath + ": can't be resolved"};

  return {makeImageMachine(std::move(parsed.plist), imageRoot, makeSandbox), {}};
}

}  // namespace strandel::platform::image
