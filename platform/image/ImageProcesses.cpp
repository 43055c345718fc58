// Tools of an image: the imaged machine's tools are scripts under its root folder, run as
// real processes of the host, confined by the sandbox the host processes were made with.
//
// A tool is found beneath the root by the walk and started by its host path, because a script
// finds its data beside itself through $0 and so needs a real path there. Between the two a
// folder of the image could be swapped for a link; the sandbox then decides what may run, and
// it lets nothing run that is not in the image or the host's program folders.
#include "platform/image/ImageServices.hpp"
#include "platform/image/RootPaths.hpp"

namespace strandel::platform::image {
namespace {

class ImageProcesses final : public Processes {
 public:
  ImageProcesses(std::unique_ptr<Processes> host, std::shared_ptr<const ImageRoot> root)
      : host_(std::move(host)), root_(std::move(root)) {}

  std::optional<ToolOutput> runTool(const ToolRunOptions& options) override {
    auto mapped = mapTool(options);
    if (!mapped) return std::nullopt;
    return host_->runTool(*mapped);
  }

  bool runToolToFile(const ToolRunOptions& options, int output) override {
    auto mapped = mapTool(options);
    return mapped && host_->runToolToFile(*mapped, output);
  }

  std::unique_ptr<ShellStream> openShell(std::string_view tool,
                                         std::string_view argumentText) override {
    // A tool that is not in the image can't be started; running the host's tool of that name
    // instead would answer for the wrong machine.
    if (!host_ || tool.empty() || tool.front() != '/') return nullptr;
    auto found = hostPathOf(tool);
    if (!found) return nullptr;
    return host_->openShell(*found, argumentText);
  }

 private:
  // The options with the tool's path mapped into the image; the arguments go unchanged, for a
  // tool reads its arguments as the Mac's paths. Nothing when the tool is not in the image.
  std::optional<ToolRunOptions> mapTool(const ToolRunOptions& options) const {
    if (!host_ || options.tool.empty() || options.tool.front() != '/') return std::nullopt;
    auto found = hostPathOf(options.tool);
    if (!found) return std::nullopt;
    ToolRunOptions mapped = options;
    mapped.tool = std::move(*found);
    return mapped;
  }

  std::optional<std::string> hostPathOf(std::string_view tool) const {
    auto found = root_->locate(tool);
    if (!found) return std::nullopt;
    return found->imagePath == "/" ? root_->hostPath() : root_->hostPath() + found->imagePath;
  }

  std::unique_ptr<Processes> host_;
  std::shared_ptr<const ImageRoot> root_;
};

}  // namespace

std::unique_ptr<Processes> makeImageProcesses(std::unique_ptr<Processes> host,
                                              std::shared_ptr<const ImageRoot> root) {
  return std::make_unique<ImageProcesses>(std::move(host), std::move(root));
}

}  // namespace strandel::platform::image
