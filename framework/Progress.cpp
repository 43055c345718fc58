#include "framework/Progress.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "base/Utf8.hpp"

namespace strandel::framework {
namespace {

// The length of the run of ASCII bytes that `bytes` begins with. Disk-utility output is nearly
// all ASCII: whole blocks are tested at once (the compiler turns the block test into vector
// instructions), so the check stays well below the cost of copying the bytes in.
std::size_t asciiRun(const char* bytes, std::size_t size) noexcept {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  std::size_t i = 0;
  while (size - i >= 32) {
    std::uint64_t words[4];
    std::memcpy(words, bytes + i, sizeof words);
    if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) != 0) break;
    i += 32;
  }
  while (size - i >= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if ((word & kHighBits) != 0) break;
    i += 8;
  }
  while (i < size && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  return i;
}

// What a snapshot owns: its share of the block and its own view of it.
struct Snapshot {
  std::shared_ptr<const char[]> block;
  std::string_view text;
};

}  // namespace

bool ProgressBuffer::append(std::string_view bytes) noexcept {
  if (exhausted_ || bytes.size() > cap_ - size_) {
    exhausted_ = true;
    return false;
  }
  if (bytes.empty()) return true;
  if (capacity_ - size_ < bytes.size()) {
    std::size_t capacity =
        std::min(std::max({capacity_ * 2, size_ + bytes.size(), std::size_t{4096}}), cap_);
    try {
      auto block = std::make_shared_for_overwrite<char[]>(capacity);
      if (size_ > 0) std::memcpy(block.get(), block_.get(), size_);
      block_ = std::move(block);
    } catch (const std::bad_alloc&) {
      exhausted_ = true;
      return false;
    }
    capacity_ = capacity;
  }
  std::memcpy(block_.get() + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  checkNewBytes();
  return true;
}

void ProgressBuffer::checkNewBytes() noexcept {
  if (broken_) return;
  const char* data = block_.get();
  while (checked_ < size_) {
    checked_ += asciiRun(data + checked_, size_ - checked_);
    if (checked_ == size_) return;
    std::size_t length = base::utf8LeadLength(static_cast<unsigned char>(data[checked_]));
    if (length == 0) {
      broken_ = true;
      return;
    }
    // A character cut by the end of the read: whether it is valid is known once the rest of it
    // has come, and until then the output so far is not valid text anyway.
    if (size_ - checked_ < length) return;
    if (length > 1 &&
        base::utf8SequenceLength(std::string_view(data + checked_, length)) != length) {
      broken_ = true;
      return;
    }
    checked_ += length;
  }
}

ProgressText ProgressBuffer::snapshot() const {
  if (!isValidUtf8()) return nullptr;
  auto owner = std::make_shared<Snapshot>(Snapshot{block_, std::string_view(block_.get(), size_)});
  return ProgressText(owner, &owner->text);
}

ProgressText reportPiece(StrandelFramework& object, ProgressBuffer& output,
                         std::string_view piece) {
  // A NUL ends what the read handed over, as it ends a C string: the bytes after it are lost.
  if (!output.append(piece.substr(0, ::strnlen(piece.data(), piece.size())))) return nullptr;
  ProgressText progress = output.snapshot();
  object.setCurrentProgress(progress);
  if (auto delegate = object.delegate()) delegate->handleProgress(progress);
  return progress;
}

}  // namespace strandel::framework
