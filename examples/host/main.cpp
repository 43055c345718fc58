// A host program built only against the installed Strandel: it lists the volumes of the
// machine it is pointed at, shows each volume's capacity, and verifies the first one while
// printing the verify's progress as it comes.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include <strandel/Strandel.hpp>

namespace {

class PrintingDelegate : public strandel::StrandelDelegate {
 public:
  void handleProgress(strandel::ProgressText progress) override {
    if (!progress) return;  // the output so far is not valid UTF-8 yet
    std::fwrite(progress->data() + shown_, 1, progress->size() - shown_, stdout);
    shown_ = progress->size();
  }

 private:
  std::size_t shown_ = 0;
};

std::string text(const strandel::PlistValue& record, std::string_view key) {
  const strandel::PlistValue* value = record.find(key);
  return value && value->asString() ? *value->asString() : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (auto error = strandel::useMachine(argv[1])) {
      std::fprintf(stderr, "host: %s\n", error->c_str());
      return 2;
    }
  }
  strandel::StrandelFramework framework;
  strandel::PlistArray volumes = framework.volumeList();
  std::printf("Strandel %s: %zu volumes\n", strandel::versionString(), volumes.size());
  for (const auto& volume : volumes) {
    std::string path = text(volume, strandel::kVolumePath);
    std::printf("%-10s %-28s %s", text(volume, strandel::kVolumeBsdName).c_str(),
                text(volume, strandel::kVolumeNameSize).c_str(),
                path.empty() ? "not mounted" : path.c_str());
    if (!path.empty())
      std::printf(", %s used of %s", strandel::ZVFoundationGetVolUsedSizeString(path).c_str(),
                  strandel::ZVFoundationGetVolTotalSizeString(path).c_str());
    std::printf("\n");
  }
  if (volumes.empty()) return 0;

  framework.setDelegate(std::make_shared<PrintingDelegate>());
  strandel::PlistDict request{
      {"selectedVolume", strandel::PlistValue(text(volumes.front(), strandel::kVolumeBsdName))}};
  framework.runWith(
      request, [](std::string& reply) { std::printf("verify done: %zu bytes\n", reply.size()); });
  return 0;
}
