#include <strandel/StrandelFramework.hpp>

namespace strandel {

ProgressText makeProgressText(std::string text) {
  struct Owned {
    std::string text;
    std::string_view view;
  };
  auto owned = std::make_shared<Owned>();
  owned->text = std::move(text);
  owned->view = owned->text;
  return ProgressText(owned, &owned->view);
}

StrandelDelegate::~StrandelDelegate() = default;

StrandelFramework::StrandelFramework() = default;

StrandelFramework::~StrandelFramework() {
  delegate_.store(nullptr);
  currentProgress_.store(nullptr);
}

PlistArray StrandelFramework::volumeListFromFramework() { return volumeList(); }

ProgressText StrandelFramework::currentProgress() const { return currentProgress_.load(); }

void StrandelFramework::setCurrentProgress(ProgressText progress) {
  currentProgress_.store(std::move(progress));
}

std::shared_ptr<StrandelDelegate> StrandelFramework::delegate() const { return delegate_.load(); }

void StrandelFramework::setDelegate(std::shared_ptr<StrandelDelegate> delegate) {
  delegate_.store(std::move(delegate));
}

}  // namespace strandel
