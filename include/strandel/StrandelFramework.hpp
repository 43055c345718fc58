// The framework object: the volume list, the byte label and the verify runner.
#pragma once

#include <strandel/Export.hpp>
#ifndef STRANDEL_LANGUAGE_TOO_OLD

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

namespace strandel {

namespace detail {

/// A shared pointer that threads read and replace at once, each access atomic by itself. The
/// value a replacement takes out is released after the new one is stored and outside the
/// lock, so a value whose destructor reaches back into its owner cannot deadlock.
/// libstdc++ 12's std::atomic<std::shared_ptr> ends a load with a relaxed unlock, which leaves
/// the read of its pointer unordered with the next store (a data race that ThreadSanitizer
/// reports), so the access takes a plain mutex instead.
template <class T>
class AtomicSharedPtr {
 public:
  std::shared_ptr<T> load() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void store(std::shared_ptr<T> value) {
    std::lock_guard lock(mutex_);
    value_.swap(value);
  }  // The old value, now in `value`, goes here, after the lock is let go.

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<T> value_;
};

}  // namespace detail

/// The output of a running verify so far, as UTF-8 text: a shared, immutable view that keeps
/// the text it views alive while it is held (`progress->data()`, `progress->size()`, or a
/// `std::string(*progress)` copy). Null when absent (the output so far is not valid UTF-8).
/// The delegate is told the whole output after every read; each text views one buffer that
/// grows by the read, where a std::string per read would copy all earlier output again and
/// make a long verify cost time in the square of its output.
using ProgressText = std::shared_ptr<const std::string_view>;

/// A progress text that owns `text`; never null.
STRANDEL_EXPORT ProgressText makeProgressText(std::string text);

/// Receives the growing output of a verify. The host derives from it and hands an owning
/// pointer to `StrandelFramework::setDelegate`.
class STRANDEL_EXPORT StrandelDelegate {
 public:
  /// Destroyed when the last owner lets go (the framework object is one).
  virtual ~StrandelDelegate();
  /// Called on the thread that runs the verify, once per read, with the whole output so far;
  /// null when the output so far is not valid UTF-8 (a character cut by a read).
  virtual void handleProgress(ProgressText progress) = 0;
};

/// The host's framework object: the volume list and the verify runner. It owns its progress
/// text and its delegate and keeps no other state; it can't be copied. Its functions may be
/// called on several threads at once; two verifies run on one object at once both replace
/// its progress text, read after read, so a host that runs several gives each its own object.
class STRANDEL_EXPORT StrandelFramework {
 public:
  /// An object without progress text and without delegate. Never fails.
  StrandelFramework();
  /// Releases the delegate first, then the progress text.
  virtual ~StrandelFramework();
  StrandelFramework(const StrandelFramework&) = delete;
  StrandelFramework& operator=(const StrandelFramework&) = delete;

  /// The volumes of the machine as display-ready records (24 keys each), sorted by BSD name
  /// with digit runs compared by value. Empty when nothing qualifies; never fails.
  virtual PlistArray volumeList();

  /// A byte count as a short label in decimal units ("1.54 KB"), the unit word translated
  /// through the host's "ZorvikLocal" table. Never fails: 0, negative and NaN counts read
  /// "0 bytes", "-5 bytes", "nan bytes".
  std::string unitizedBytes(double bytes);

  /// Runs the disk utility with `arguments` (shell word syntax) and gives all its output
  /// bytes; the delegate hears the output so far after every read. Empty when it can't start.
  std::vector<std::uint8_t> diskUtilityCmd(std::string_view arguments);

  /// What `volumeList()` gives, through the virtual call (an override is reached).
  PlistArray volumeListFromFramework();

  /// Verifies the volume named by the request's "selectedVolume" (a string, or an integer taken
  /// as its digits) and calls `reply` once, after the tool has ended, with the whole output as
  /// UTF-8 text (each byte that is not UTF-8 as U+FFFD). The reply is "" when the request names
  /// no volume or the disk utility can't be started.
  void runWith(const PlistDict& request, const std::function<void(std::string&)>& reply);

  /// The progress text (the output of the running or last verify so far); null when absent.
  /// Each access is atomic by itself.
  ProgressText currentProgress() const;
  void setCurrentProgress(ProgressText progress);

  /// The delegate, owned by the object; null when none. Each access is atomic by itself.
  std::shared_ptr<StrandelDelegate> delegate() const;
  void setDelegate(std::shared_ptr<StrandelDelegate> delegate);

  /// The group of the APFS container that `bsdName` belongs to: whether anything below it is
  /// mounted at "/", and its named volumes. An unusable name gives an empty group.
  static PlistDict volumesInAPFSContainer(std::string_view bsdName);

 private:
  detail::AtomicSharedPtr<const std::string_view> currentProgress_;
  detail::AtomicSharedPtr<StrandelDelegate> delegate_;
};

}  // namespace strandel

#endif  // STRANDEL_LANGUAGE_TOO_OLD
