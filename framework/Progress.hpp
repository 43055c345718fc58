// The growing output of a disk-utility run and the progress texts handed out while it grows.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include <strandel/StrandelFramework.hpp>

#include "platform/Machine.hpp"

namespace strandel::framework {

/// The output of one run, append-only. Appending costs time in proportion to the bytes
/// appended (plus an amortised copy when the storage grows), never to the output so far: only
/// the new bytes are checked as UTF-8, and a progress text shares the storage instead of
/// copying it.
class ProgressBuffer {
 public:
  /// An output that keeps at most `cap` bytes (tests make it small).
  explicit ProgressBuffer(std::size_t cap = platform::kMaxToolOutputBytes) noexcept : cap_(cap) {}

  /// Appends `bytes` to the output. False, and nothing appended then or ever after, once the
  /// output would go over its cap or memory runs out: such an output is no answer at all.
  bool append(std::string_view bytes) noexcept;

  /// Whether an append was refused: the run's output is unusable and its reading should end.
  bool exhausted() const noexcept { return exhausted_; }

  /// The whole output so far as an immutable text that stays valid while it is held, whatever
  /// is appended later. Null while the output is not valid UTF-8 (a character cut by the end of
  /// a read included).
  ProgressText snapshot() const;

  /// The whole output so far; valid until the next `append`.
  std::string_view bytes() const noexcept { return {block_.get(), size_}; }

  /// Whether all of the output so far is valid UTF-8.
  bool isValidUtf8() const noexcept { return !broken_ && checked_ == size_; }

 private:
  void checkNewBytes() noexcept;

  // Bytes below `size_` are never written again, so snapshots may share the block; growing
  // moves on to a new block and leaves the old one to the snapshots that hold it.
  std::shared_ptr<char[]> block_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  // Everything below `checked_` is whole, valid characters; a character cut by the end of a
  // read waits above it for the bytes that complete it.
  std::size_t checked_ = 0;
  // An invalid sequence was seen: no later byte can make the output valid again.
  bool broken_ = false;
  std::size_t cap_;
  bool exhausted_ = false;
};

/// One read of the runner: keeps the bytes of `piece` before its first NUL, appends them to
/// `output`, replaces the object's progress text with the output so far and then tells the
/// object's delegate, if it has one. Gives the text it stored (null when absent). A piece the
/// output refuses (see `ProgressBuffer::append`) changes nothing and gives null.
ProgressText reportPiece(StrandelFramework& object, ProgressBuffer& output, std::string_view piece);

}  // namespace strandel::framework
