#include "apfsdisk/ByteSource.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/Handles.hpp"

namespace strandel::apfsdisk {
namespace {

class FileSource final : public ByteSource {
 public:
  FileSource(base::UniqueFd fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::span<std::byte> out) const override {
    if (offset > size_ || out.size() > size_ - offset) return false;
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t got = base::retryAfterSignal([&] {
        return ::pread(fd_.get(), out.data() + done, out.size() - done,
                       static_cast<off_t>(offset + done));
      });
      // A device that shrank under us ends the read as a failure, never as a loop.
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  base::UniqueFd fd_;
  std::uint64_t size_;
};

class SliceSource final : public ByteSource {
 public:
  SliceSource(std::shared_ptr<const ByteSource> whole, std::uint64_t offset, std::uint64_t length)
      : whole_(std::move(whole)),
        offset_(std::min(offset, whole_->size())),
        size_(std::min(length, whole_->size() - offset_)) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::span<std::byte> out) const override {
    if (offset > size_ || out.size() > size_ - offset) return false;
    return whole_->read(offset_ + offset, out);
  }

 private:
  std::shared_ptr<const ByteSource> whole_;
  std::uint64_t offset_;
  std::uint64_t size_;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, std::span<std::byte> out) const override {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
    if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return true;
  }

 private:
  std::string_view bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string& path) {
  if (path.find('\0') != std::string::npos) return nullptr;
  // Non-blocking so that a FIFO put where a disk was expected is refused, not waited on.
  base::UniqueFd fd(base::retryAfterSignal(
      [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }));
  if (!fd) return nullptr;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return nullptr;
  if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) return nullptr;
  // The end offset is a block device's size as well as a file's, on every POSIX system.
  off_t end = ::lseek(fd.get(), 0, SEEK_END);
  if (end < 0) return nullptr;
  return std::make_unique<FileSource>(std::move(fd), static_cast<std::uint64_t>(end));
}

std::unique_ptr<ByteSource> sliceSource(std::shared_ptr<const ByteSource> whole,
                                        std::uint64_t offset, std::uint64_t length) {
  if (!whole) return nullptr;
  return std::make_unique<SliceSource>(std::move(whole), offset, length);
}

std::unique_ptr<ByteSource> memorySource(std::string_view bytes) {
  return std::make_unique<MemorySource>(bytes);
}

}  // namespace strandel::apfsdisk
