// The container lookup read straight off the listing's bytes.
//
// The disk utility prints a plain XML list: a declaration, a DOCTYPE, <plist>, and elements
// with no attributes, entities, comments or CDATA. The skim reads only that shape and walks
// it to the end of the list's value, as the parser would, so a list the parser refuses is
// never answered here; it notes just the few texts the match looks at, and builds the one
// container that matches by parsing its bytes alone. Whatever else it meets (a binary list, an
// entity, a comment between values, a key twice, nesting near the parser's limit) it leaves to
// the parser, whose answer is the reference.
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "apfs/ApfsListing.hpp"
#include "text/CharacterClass.hpp"

namespace strandel::apfs {
namespace {

// What an open container is to the lookup.
enum class Role { Other, Root, Containers, Container, Stores, FirstStore };

struct Open {
  Role role = Role::Other;
  bool isDict = false;
  bool hasKey = false;
  std::string_view key;
  std::size_t start = 0;  // where its opening tag begins
  std::size_t items = 0;  // values it holds so far
};

// The texts of the container being read that the match looks at.
struct Candidate {
  std::optional<std::string_view> reference, designatedStore, firstStore;
  unsigned seen = 0;  // the keys met, to leave a key given twice to the parser
};

enum : unsigned { kReference = 1, kDesignated = 2, kStores = 4, kDeviceIdentifier = 8 };

// Well inside the parser's nesting limit (512), so that the skim never answers near it; the
// disk utility nests six levels.
constexpr std::size_t kMaxDepth = 256;

class Skim {
 public:
  Skim(std::string_view text, const ContainerQuery& query) : s_(text), query_(query) {}

  // Nothing when the skim can't decide; otherwise the matching container's bytes, or nothing.
  std::optional<std::optional<std::string_view>> run() {
    if (!skipProlog()) return std::nullopt;
    for (;;) {
      while (pos_ < s_.size() && text::isXmlSpace(s_[pos_])) ++pos_;
      if (pos_ >= s_.size() || s_[pos_] != '<') return std::nullopt;
      const std::size_t tagStart = pos_;
      bool closing = false, selfClosing = false;
      std::string_view name;
      if (!readTag(name, closing, selfClosing)) return std::nullopt;
      if (closing) {
        if (stack_.empty() || name != (stack_.back().isDict ? "dict" : "array") ||
            stack_.back().hasKey)
          return std::nullopt;
        Open done = stack_.back();
        stack_.pop_back();
        if (done.role == Role::Container && !match_ && matches())
          match_ = s_.substr(done.start, pos_ - done.start);
        if (stack_.empty()) return match_;
        if (!attached(Value::Other)) return std::nullopt;
        continue;
      }
      if (name == "dict" || name == "array") {
        const bool isDict = name == "dict";
        if (selfClosing) {
          if (stack_.empty() || !attached(Value::Other)) return std::nullopt;
          continue;
        }
        if (stack_.size() >= kMaxDepth || !opening(isDict, tagStart)) return std::nullopt;
        continue;
      }
      std::string_view text;
      if (!selfClosing && !readText(name, text)) return std::nullopt;
      if (name == "key") {
        if (!keyRead(text)) return std::nullopt;
      } else if (name == "string") {
        if (!attached(Value::String, text)) return std::nullopt;
      } else if (name == "integer" || name == "real" || name == "true" || name == "false") {
        // The parser reads any text of these, so none is refused.
        if (!attached(Value::Other)) return std::nullopt;
      } else {
        return std::nullopt;  // dates and data can be refused: the parser judges them
      }
    }
  }

 private:
  enum class Value { String, Other };

  template <std::size_t N>
  bool startsWith(const char (&what)[N]) const {
    return s_.size() - pos_ >= N - 1 && std::memcmp(s_.data() + pos_, what, N - 1) == 0;
  }

  // The declaration, the DOCTYPE (without an internal subset), comments and one <plist> tag,
  // then the root <dict>.
  bool skipProlog() {
    if (s_.size() < 8) return false;
    bool plistOpen = false;
    for (;;) {
      while (pos_ < s_.size() && text::isXmlSpace(s_[pos_])) ++pos_;
      if (startsWith("<?")) {
        if (!skipQuotedTo(pos_ + 1, '?')) return false;
      } else if (startsWith("<!--")) {
        std::size_t end = s_.find("-->", pos_ + 4);
        if (end == std::string_view::npos) return false;
        pos_ = end + 3;
      } else if (startsWith("<!DOCTYPE")) {
        if (!skipQuotedTo(pos_ + 2, 0)) return false;
      } else if (!plistOpen && (startsWith("<plist ") || startsWith("<plist>"))) {
        if (!skipQuotedTo(pos_ + 6, 0) || s_[pos_ - 2] == '/') return false;
        plistOpen = true;
      } else {
        return startsWith("<dict>");
      }
    }
  }

  // Moves past the '>' that ends a markup (after `endMark` when that is not 0), skipping text
  // in double quotes; a '<' or a '[' outside quotes is more than the skim reads.
  bool skipQuotedTo(std::size_t from, char endMark) {
    bool quoted = false;
    for (std::size_t i = from; i < s_.size(); ++i) {
      const char c = s_[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted) {
        continue;
      } else if (endMark ? (c == endMark && i + 1 < s_.size() && s_[i + 1] == '>') : c == '>') {
        pos_ = i + (endMark ? 2 : 1);
        return true;
      } else if (c == '<' || c == '[') {
        return false;
      }
    }
    return false;
  }

  // "<name>", "<name/>" or "</name>", a name of lower-case letters and nothing else.
  bool readTag(std::string_view& name, bool& closing, bool& selfClosing) {
    std::size_t at = pos_ + 1;
    closing = at < s_.size() && s_[at] == '/';
    if (closing) ++at;
    const std::size_t nameStart = at;
    while (at < s_.size() && s_[at] >= 'a' && s_[at] <= 'z') ++at;
    name = s_.substr(nameStart, at - nameStart);
    if (at < s_.size() && s_[at] == '>') {
      selfClosing = false;
    } else if (!closing && at + 1 < s_.size() && s_[at] == '/' && s_[at + 1] == '>') {
      selfClosing = true;
      ++at;
    } else {
      return false;
    }
    pos_ = at + 1;
    return !name.empty();
  }

  // The text of a scalar element and its exact closing tag. A text holding '&' (an entity or
  // not) or a NUL is left to the parser.
  bool readText(std::string_view name, std::string_view& text) {
    const char* lt = static_cast<const char*>(std::memchr(s_.data() + pos_, '<', s_.size() - pos_));
    if (!lt) return false;
    const std::size_t end = static_cast<std::size_t>(lt - s_.data());
    text = s_.substr(pos_, end - pos_);
    if (text.find('&') != std::string_view::npos || text.find('\0') != std::string_view::npos)
      return false;
    pos_ = end;
    if (s_.size() - pos_ < name.size() + 3 || s_[pos_ + 1] != '/' ||
        s_.compare(pos_ + 2, name.size(), name) != 0 || s_[pos_ + 2 + name.size()] != '>')
      return false;
    pos_ += name.size() + 3;
    return true;
  }

  bool keyRead(std::string_view key) {
    if (stack_.empty() || !stack_.back().isDict || stack_.back().hasKey) return false;
    Open& top = stack_.back();
    top.hasKey = true;
    top.key = key;
    // A key the lookup reads, given twice: the parser keeps the last, and decides.
    unsigned bit = 0;
    if (top.role == Role::Root && key == "Containers") bit = 1;
    if (top.role == Role::Container) {
      if (key == "ContainerReference") bit = kReference;
      if (key == "DesignatedPhysicalStore") bit = kDesignated;
      if (key == "PhysicalStores") bit = kStores;
    }
    if (top.role == Role::FirstStore && key == "DeviceIdentifier") bit = kDeviceIdentifier;
    if (!bit) return true;
    unsigned& seen = top.role == Role::Root ? rootSeen_ : candidate_.seen;
    if (seen & bit) return false;
    seen |= bit;
    return true;
  }

  // The role a container opened here takes.
  Role roleOf(bool isDict) const {
    if (stack_.empty()) return isDict ? Role::Root : Role::Other;
    const Open& top = stack_.back();
    if (top.role == Role::Root && !isDict && top.key == "Containers") return Role::Containers;
    if (top.role == Role::Containers && isDict) return Role::Container;
    if (top.role == Role::Container && !isDict && top.key == "PhysicalStores") return Role::Stores;
    if (top.role == Role::Stores && isDict && top.items == 0) return Role::FirstStore;
    return Role::Other;
  }

  bool opening(bool isDict, std::size_t start) {
    if (!stack_.empty() && stack_.back().isDict && !stack_.back().hasKey) return false;
    const Role role = roleOf(isDict);
    if (stack_.empty() && role != Role::Root) return false;
    if (role == Role::Container) candidate_ = {};
    stack_.push_back(Open{role, isDict, false, {}, start, 0});
    return true;
  }

  // A value ends inside the top container: a string is noted where the match reads it.
  bool attached(Value value, std::string_view text = {}) {
    if (stack_.empty()) return false;
    Open& top = stack_.back();
    if (top.isDict) {
      if (!top.hasKey) return false;
      if (value == Value::String && top.role == Role::Container) {
        if (top.key == "ContainerReference") candidate_.reference = text;
        if (top.key == "DesignatedPhysicalStore") candidate_.designatedStore = text;
      }
      if (value == Value::String && top.role == Role::FirstStore && top.key == "DeviceIdentifier")
        candidate_.firstStore = text;
      top.hasKey = false;
    }
    ++top.items;
    return true;
  }

  bool matches() const {
    if (candidate_.reference && *candidate_.reference == query_.reference) return true;
    const auto& store =
        query_.storeFromPhysicalStores ? candidate_.firstStore : candidate_.designatedStore;
    return store && !store->empty() && query_.device.ends_with(*store);
  }

  std::string_view s_;
  const ContainerQuery& query_;
  std::size_t pos_ = 0;
  std::vector<Open> stack_;
  Candidate candidate_;
  unsigned rootSeen_ = 0;
  std::optional<std::string_view> match_;
};

}  // namespace

std::optional<std::optional<PlistDict>> findContainerSkimmed(std::string_view listing,
                                                             const ContainerQuery& query) {
  auto found = Skim(listing, query).run();
  if (!found) return std::nullopt;
  if (!*found) return std::optional<PlistDict>();
  // The container's bytes hold nothing the skim did not read, so they parse alone exactly as
  // they do inside the whole list.
  std::optional<PlistValue> container = readPlist(**found);
  if (!container || !container->asDictionary()) return std::nullopt;
  return std::optional<PlistDict>(std::move(*container->asDictionary()));
}

}  // namespace strandel::apfs
