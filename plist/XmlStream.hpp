// An XML property list written a piece at a time, into a sink or a string.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "plist/PlistWriter.hpp"

namespace strandel::plist {

/// Takes the written bytes a piece at a time; false stops the writing (a full disk).
using ByteSink = std::function<bool(std::string_view)>;

/// Writes an XML property list as writeXml does, but lets the caller give the outer containers
/// piece by piece, so that a list of many entries can be made one entry at a time and never held
/// whole, neither as values nor as text. With a sink the text goes out in pieces of a bounded
/// size; without one it is kept and taken with text().
///
/// Each call gives false once the writing has stopped: either a value the form can't hold
/// exactly in Exact mode (refused() says so) or the sink said false. Nothing is written after.
class XmlStream {
 public:
  explicit XmlStream(WriteMode mode, ByteSink sink = {});

  /// Opens a dictionary or an array inside the innermost open one (or as the list's value).
  bool openDictionary() { return open(false); }
  bool openArray() { return open(true); }
  /// The key of the next value, inside an open dictionary.
  bool key(std::string_view key);
  /// A whole value, at the place the open containers give.
  bool value(const PlistValue& value);
  /// Closes the innermost open container.
  bool close();
  /// Ends the list and hands the rest of the text to the sink.
  bool finish();

  bool refused() const noexcept { return refused_; }
  /// The text written, when there is no sink.
  std::string takeText() { return std::move(out_); }

 private:
  struct Frame {
    const PlistArray* array = nullptr;
    const PlistDict* dict = nullptr;
    std::size_t index = 0;
    PlistDict::const_iterator entry;
  };
  struct Open {
    bool array = false;
    bool written = false;  // whether its opening tag is out yet: an empty one is written <array/>
  };

  bool open(bool array);
  void startInside();
  bool walk(const PlistValue& root);
  bool stepInto(const PlistValue& v);
  std::size_t depth() const noexcept { return open_.size() + stack_.size(); }
  void indent(std::size_t depth);
  void closeFrame(const char* tag);
  bool element(const char* name, std::string_view content);
  template <class T>
  bool number(const char* name, T v);
  bool real(double v);
  void data(const std::vector<std::uint8_t>& bytes);
  bool date(double seconds);
  bool text(std::string_view s);
  bool refuse();
  bool flushIfFull();

  WriteMode mode_;
  ByteSink sink_;
  std::string out_;
  std::vector<Frame> stack_;
  std::vector<Open> open_;
  bool stopped_ = false, refused_ = false;
};

}  // namespace strandel::plist
