// What the machine.plist checks share: where in the file a value sits, and how a value is
// named in the one line that refuses it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <strandel/PlistValue.hpp>

namespace strandel::machineimage {

/// A place inside machine.plist, "Registry[0].Children[2].Description.DAMediaSize". Places
/// live on the stack of the check and chain to their parent; the text is only made for an
/// error, so checking a large image builds no strings.
class Place {
 public:
  Place() = default;
  Place(const Place& parent, std::string_view key) : parent_(&parent), key_(key) {}
  Place(const Place& parent, std::size_t index) : parent_(&parent), index_(index), isIndex_(true) {}

  /// The place as text; "top level" for the whole file.
  std::string text() const;

 private:
  void append(std::string& out) const;

  const Place* parent_ = nullptr;
  std::string_view key_;
  std::size_t index_ = 0;
  bool isIndex_ = false;
};

/// How the error line names a value's kind: "a string", "an integer", "data", ...
std::string_view kindName(const PlistValue& value);

/// `text` in double quotes for an error line: control characters, quotes, backslashes and
/// bytes that are not UTF-8 escaped, and long texts cut, so the line stays one short line.
std::string quoted(std::string_view text);

/// The check of one disk description: turns `description` into the form the registry hands
/// out (DAVolumePath a URL value, UUIDs canonical). The error line when a key has the wrong
/// type or form.
std::optional<std::string> prepareDescription(PlistDict& description, const Place& place);

}  // namespace strandel::machineimage
