// The XML property-list form, read in one pass with an explicit stack of open containers.
//
// Besides the value elements, a list may hold an XML declaration, processing instructions, a
// DOCTYPE (with an internal subset), comments and white space between elements; <plist> tags
// may stand anywhere, nesting as elements do, and add nothing to the value. Reading stops at
// the end of the first value: what follows it is not looked at. Texts of <string> and <key>
// decode the five named entities and character references and keep CDATA sections as they
// are; other elements take their text as it stands.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/Utf8.hpp"
#include "plist/PlistReader.hpp"
#include "plist/TextPool.hpp"
#include "plist/XmlText.hpp"
#include "text/CharacterClass.hpp"

namespace strandel::plist {
using base::appendUtf8;
namespace {

// Joins the pieces of a message. (Chains of std::string + trip a false -Wrestrict in GCC 12.)
std::string joined(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

struct OpenContainer {
  PlistArray items;
  // In the order read; sorted once when the dictionary closes, so that keys out of order cost
  // one sort rather than a move of every later entry each.
  std::vector<PlistDict::value_type> entries;
  bool isDict = false;
  bool hasKey = false;
  PlistKey key;
  std::size_t openPlists = 0;  // <plist> tags opened inside it and not yet closed
};

// The places a container has and uses, and the size of one.
struct Room {
  std::size_t used, held, slot;
};

Room roomOf(const OpenContainer& c) {
  if (c.isDict) return {c.entries.size(), c.entries.capacity(), sizeof(PlistDict::value_type)};
  return {c.items.size(), c.items.capacity(), sizeof(PlistValue)};
}

struct Tag {
  std::string_view name;
  bool selfClosing = false;
};

class XmlReader {
 public:
  // The values may take three times the text, which is held as well while they are read: four
  // times the input in all, plus room for a small list.
  explicit XmlReader(std::string_view text)
      : s_(text),
        memory_(3 * static_cast<std::uint64_t>(text.size()) + (std::uint64_t{16} << 20)) {}

  PlistReadResult run() {
    for (;;) {
      if (!skipBetweenElements()) return refused();
      if (pos_ >= s_.size()) {
        fail(stack_.empty() ? "no value in the list" : "a container is not closed");
        return refused();
      }
      if (s_[pos_] != '<') {
        fail("text outside any value");
        return refused();
      }
      std::optional<PlistValue> done;
      if (startsWith("</")) {
        if (!closeContainer(done)) return refused();
      } else if (!readElement(done)) {
        return refused();
      }
      if (!done) continue;
      if (stack_.empty()) {
        if (emptyRoot_ && !checkAfterEmptyRoot()) return refused();
        return {std::move(done), {}};
      }
      if (!charge(*done) || !attach(std::move(*done))) return refused();
    }
  }

 private:
  PlistReadResult refused() { return {std::nullopt, std::move(error_)}; }

  bool fail(std::string_view what) {
    if (error_.empty()) {
      std::size_t line = 1;
      for (std::size_t i = 0; i < pos_ && i < s_.size(); ++i) line += s_[i] == '\n';
      error_ = joined({"line ", std::to_string(line), ": ", what});
    }
    return false;
  }

  // Whether the text at pos_ starts with a literal; a fixed length lets the compiler inline it.
  template <std::size_t N>
  bool startsWith(const char (&what)[N]) const {
    return pos_ <= s_.size() && s_.size() - pos_ >= N - 1 &&
           std::memcmp(s_.data() + pos_, what, N - 1) == 0;
  }

  // Moves past `end`, searched from `from`; fails when it never comes.
  bool skipPast(std::size_t from, std::string_view end, std::string_view what) {
    std::size_t found = s_.find(end, from);
    if (found == std::string_view::npos) return fail(what);
    pos_ = found + end.size();
    return true;
  }

  // A <?...?> instruction; text in double quotes may hold "?>". Its opening '?' may also be the
  // closing one: "<?>" is read as an empty instruction, as libplist reads it.
  bool skipInstruction() {
    bool quoted = false;
    for (std::size_t i = pos_ + 1; i < s_.size(); ++i) {
      if (s_[i] == '"') quoted = !quoted;
      else if (!quoted && s_[i] == '?' && i + 1 < s_.size() && s_[i + 1] == '>') {
        pos_ = i + 2;
        return true;
      }
    }
    return fail("a processing instruction is not closed");
  }

  // A <!DOCTYPE ...> declaration. An internal subset, from its '[', runs to the first "]>": a
  // ']' and '>' apart do not end it. Text in double quotes may hold '>' and brackets.
  bool skipDeclaration() {
    bool quoted = false, subset = false;
    for (std::size_t i = pos_ + 2; i < s_.size(); ++i) {
      const char c = s_[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted) {
        continue;
      } else if (c == '[') {
        subset = true;
      } else if (c == '>' && (!subset || s_[i - 1] == ']')) {
        pos_ = i + 1;
        return true;
      }
    }
    return fail("a declaration is not closed");
  }

  bool isPlistTag() const {
    std::size_t at = pos_ + (startsWith("</") ? 2 : 1);
    if (at + 5 >= s_.size() || std::memcmp(s_.data() + at, "plist", 5) != 0) return false;
    char next = s_[at + 5];
    return next == '>' || next == '/' || next == '\0' || text::isXmlSpace(next);
  }

  // White space, comments, processing instructions, DOCTYPEs and <plist> tags.
  bool skipBetweenElements() {
    for (;;) {
      while (pos_ < s_.size() && text::isXmlSpace(s_[pos_])) ++pos_;
      if (pos_ + 1 >= s_.size() || s_[pos_] != '<') return true;
      const char next = s_[pos_ + 1];
      if (next != '?' && next != '!' && next != 'p' && next != '/') return true;
      if (next == '?') {
        if (!skipInstruction()) return false;
      } else if (startsWith("<!--")) {
        if (!skipPast(pos_ + 4, "-->", "a comment is not closed")) return false;
      } else if (startsWith("<![CDATA[")) {
        return true;
      } else if (startsWith("<!DOCTYPE")) {
        if (!skipDeclaration()) return false;
      } else if (isPlistTag()) {
        const bool closing = next == '/';
        Tag tag;
        if (!readTag(tag)) return false;
        if (tag.name != "plist") return fail(joined({"an unknown element <", tag.name, ">"}));
        if (afterValue_ && !closing && openPlists_ == 0) {
          pos_ = s_.size();  // a second list begins after the value: it is not looked at
          return true;
        }
        if (tag.selfClosing) return fail("an empty <plist/>: it holds no value");
        // A <plist> nests like any element: one opened inside a container closes before it.
        std::size_t& open = stack_.empty() ? openPlists_ : stack_.back().openPlists;
        if (!closing) {
          ++open;
          valueBegun_ = false;
        } else if (open == 0 && !stack_.empty()) {
          return fail(stack_.back().isDict ? "</plist> closes <dict>" : "</plist> closes <array>");
        } else if (open == 0) {
          return fail("a </plist> with no <plist> open");
        } else if (!valueBegun_) {
          return fail("a <plist> closed with no value in it");
        } else {
          --open;
        }
      } else {
        return true;
      }
    }
  }

  // The tag at pos_ ("<name attributes>" or "</name >"), moving past it. A closing tag of a
  // container or of <plist> may hold anything but '<' between its name and '>'; one that ends
  // a text only white space.
  bool readTag(Tag& tag, bool laxClose = true) {
    std::size_t at = pos_ + 1;
    const bool closing = at < s_.size() && s_[at] == '/';
    if (closing) ++at;
    const std::size_t nameStart = at;
    // The name runs to white space or the end of the tag, '/' included; a '/' that ends it just
    // before '>' closes the element (and is what a lax closing tag may end with).
    while (at < s_.size() && !text::isXmlSpace(s_[at]) && s_[at] != '>' && s_[at] != '<') ++at;
    tag.name = s_.substr(nameStart, at - nameStart);
    const bool slashed =
        (!closing || laxClose) && at < s_.size() && s_[at] == '>' && tag.name.ends_with('/');
    if (slashed) tag.name.remove_suffix(1);
    if (tag.name.empty()) return fail("a tag without a name");
    // XML has no NUL, and C would read such a name as shorter than it is.
    if (tag.name.find('\0') != std::string_view::npos) return fail("a tag name holding a NUL");
    if (slashed) {
      tag.selfClosing = !closing;
      pos_ = at + 1;
      return true;
    }
    if (closing && laxClose) {
      // Lax as it is, a closing tag never holds another tag's '<' either.
      std::size_t end = s_.find('>', at);
      if (end == std::string_view::npos || std::memchr(s_.data() + at, '<', end - at))
        return fail(joined({"a malformed tag </", tag.name, ">"}));
      pos_ = end + 1;
      return true;
    }
    // Within the attributes '/' is text: the tag closes itself when '/' stands just before '>'.
    char quote = 0;
    for (; at < s_.size(); ++at) {
      char c = s_[at];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"') {  // only double quotes quote, in tags as in declarations
        if (closing) break;
        quote = c;
      } else if (c == '<') {
        break;  // a tag never holds another, outside quotes
      } else if (c == '>') {
        tag.selfClosing = !closing && s_[at - 1] == '/';
        pos_ = at + 1;
        return true;
      } else if (closing && !text::isXmlSpace(c)) {
        break;
      }
    }
    return fail(joined({"a malformed tag <", tag.name, ">"}));
  }

  // A list whose whole value is written <dict/> or <array/> is read to its end: what follows
  // may only be white space, comments, declarations and the </plist> tags that close it.
  bool checkAfterEmptyRoot() {
    afterValue_ = true;
    for (;;) {
      const std::size_t before = pos_;
      const std::size_t open = openPlists_;
      if (!skipBetweenElements()) return false;
      if (pos_ >= s_.size()) break;
      if (pos_ == before && open == openPlists_) return fail("more after the list's value");
    }
    if (openPlists_ > 0) return fail("a <plist> is not closed");
    return true;
  }

  bool closeContainer(std::optional<PlistValue>& done) {
    Tag tag;
    if (!readTag(tag)) return false;
    if (stack_.empty()) return fail(joined({"a closing tag </", tag.name, "> with nothing open"}));
    OpenContainer& top = stack_.back();
    if (top.openPlists > 0) return fail(joined({"</", tag.name, "> closes <plist>"}));
    if (tag.name != (top.isDict ? "dict" : "array"))
      return fail(joined({"</", tag.name, "> closes <", top.isDict ? "dict>" : "array>"}));
    // Grown by doubling, a container would keep up to twice the room it needs for as long as
    // the value lives; a large machine.plist is thousands of small dictionaries.
    const Room room = roomOf(top);
    memory_ += (room.held - room.used) * room.slot;
    top.entries.shrink_to_fit();
    top.items.shrink_to_fit();
    // Made a value only now, complete: its contents are then shared by copies, not copied.
    done = top.isDict ? PlistValue(PlistDict::fromEntries(std::move(top.entries)))
                      : PlistValue(std::move(top.items));
    stack_.pop_back();
    return true;
  }

  bool readElement(std::optional<PlistValue>& done) {
    valueBegun_ = true;
    Tag tag;
    if (!readTag(tag)) return false;
    const std::string_view name = tag.name;
    if (name == "array" || name == "dict") {
      if (tag.selfClosing) {
        emptyRoot_ = stack_.empty();
        done = name == "dict" ? PlistValue(PlistDict{}) : PlistValue(PlistArray{});
        return true;
      }
      if (stack_.size() >= kMaxPlistNesting)
        return fail(
            joined({"containers nested more than ", std::to_string(kMaxPlistNesting), " deep"}));
      stack_.push_back(OpenContainer{{}, {}, name == "dict", false, {}, 0});
      return true;
    }
    if (name == "key" || name == "string") {
      text_.clear();
      if (!tag.selfClosing && !readText(tag.name, true, text_)) return false;
      if (name == "key" && !stack_.empty() && stack_.back().isDict) {
        OpenContainer& top = stack_.back();
        if (top.hasKey) return fail("two keys in a row");
        top.key = texts_.intern(text_);
        top.hasKey = true;
        return true;
      }
      done = PlistValue(texts_.intern(text_));
      return true;
    }
    static constexpr std::string_view kScalars[] = {"true", "false", "integer",
                                                    "real", "date",  "data"};
    bool known = false;
    for (std::string_view scalar : kScalars) known = known || name == scalar;
    if (!known) return fail(joined({"an unknown element <", name, ">"}));
    text_.clear();
    if (!tag.selfClosing && !readText(tag.name, false, text_)) return false;
    const std::string& text = text_;
    if (name == "true" || name == "false") {
      done = PlistValue(name == "true");
    } else if (name == "integer") {
      done = plist::integerOf(text);
    } else if (name == "real") {
      done = PlistValue(plist::realOf(text));
    } else if (name == "date") {
      std::optional<double> seconds = plist::dateOf(text);
      if (!seconds) return fail("a date that is not YYYY-MM-DDTHH:MM:SSZ");
      done = PlistValue(PlistDate{*seconds});
    } else {
      std::optional<PlistData> data = plist::dataOf(text);
      if (!data) return fail("data that is not base64");
      done = PlistValue(std::move(*data));
    }
    return true;
  }

  // Charges what a value adds to the memory reading holds: its place in its container, the
  // texts made since the last charge and the heap behind data. A container's room is charged as
  // it grows, old and new room at once while the grow copies, and what is left unused is given
  // back when it closes and is cut to size; so the budget follows what reading really holds,
  // and a few times the text read is enough for any list a writer makes.
  bool charge(const PlistValue& value) {
    const OpenContainer& top = stack_.back();
    std::uint64_t cost = texts_.held() - textsCharged_;
    textsCharged_ = texts_.held();
    if (const PlistData* data = value.asData()) cost += data->bytes.size() + 16 + 48;
    // A container's body: its shared block and its counts.
    if (value.asArray() || value.asDictionary()) cost += 64;
    // A full container grows: its new room is needed while the old one is still held.
    std::uint64_t momentary = cost;
    if (const Room room = roomOf(top); room.used == room.held) {
      const std::uint64_t grown = std::max<std::uint64_t>(1, 2 * std::uint64_t{room.held});
      momentary += grown * room.slot;
      cost += (grown - room.held) * room.slot;
    }
    if (momentary > memory_) return fail("more values than a list of this size can hold");
    memory_ -= cost;
    return true;
  }

  bool attach(PlistValue value) {
    OpenContainer& top = stack_.back();
    if (!top.isDict) {
      top.items.push_back(std::move(value));
      return true;
    }
    if (!top.hasKey) return fail("a dictionary value without a key");
    top.entries.emplace_back(std::move(top.key), std::move(value));
    top.hasKey = false;
    return true;
  }

  // The text of element `name` up to its closing tag. Comments are dropped, CDATA sections
  // kept; with `decode`, entities and character references are decoded.
  bool readText(std::string_view name, bool decode, std::string& out) {
    for (;;) {
      std::size_t start = pos_;
      while (pos_ < s_.size() && s_[pos_] != '<' && !(decode && s_[pos_] == '&')) ++pos_;
      out.append(s_, start, pos_ - start);
      // A NUL is refused before anything after it is looked at.
      if (decode && std::memchr(s_.data() + start, '\0', pos_ - start))
        return fail("a text holding a NUL");
      if (pos_ >= s_.size()) return fail(joined({"<", name, "> is not closed"}));
      if (s_[pos_] == '&') {
        if (!decodeEntity(out)) return false;
      } else if (startsWith("<!--")) {
        if (!skipPast(pos_ + 4, "-->", "a comment is not closed")) return false;
      } else if (startsWith("<![CDATA[")) {
        std::size_t end = s_.find("]]>", pos_ + 9);
        if (end == std::string_view::npos) return fail("a CDATA section is not closed");
        out.append(s_, pos_ + 9, end - pos_ - 9);
        pos_ = end + 3;
      } else if (startsWith("</")) {
        Tag tag;
        if (!readTag(tag, false)) return false;
        if (tag.name != name) return fail(joined({"</", tag.name, "> closes <", name, ">"}));
        if (decode && out.find('\0') != std::string::npos) return fail("a text holding a NUL");
        return true;
      } else {
        return fail(joined({"markup inside <", name, ">"}));
      }
    }
  }

  // An entity at pos_: a named one is known by how its name starts, a character reference
  // holds at most seven characters after "&#", with C's leniency about a sign and white space
  // before the digits.
  bool decodeEntity(std::string& out) {
    // An '&' that ends a run of text stands for itself.
    if (pos_ + 1 >= s_.size() || s_[pos_ + 1] == '<') {
      out += '&';
      ++pos_;
      return true;
    }
    // The ';' must come before the next markup. (Looking no further than the ';' keeps this
    // linear: what is looked at is either consumed or the end of reading.)
    std::size_t semicolon = s_.find(';', pos_ + 1);
    if (semicolon == std::string_view::npos ||
        std::memchr(s_.data() + pos_ + 1, '<', semicolon - pos_ - 1) != nullptr)
      return fail("an entity without its ';'");
    if (std::memchr(s_.data() + pos_ + 1, '\0', semicolon - pos_ - 1))
      return fail("a text holding a NUL");
    std::string_view name = s_.substr(pos_ + 1, semicolon - pos_ - 1);
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto& [entity, c] : kNamed) {
      if (name.starts_with(entity)) {
        out += c;
        pos_ = semicolon + 1;
        return true;
      }
    }
    if (!name.starts_with('#') || name.size() > 8) return fail("an unknown entity");
    std::string_view digits = name.substr(1);
    int base = 10;
    if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
      base = 16;
      digits.remove_prefix(1);
    }
    std::size_t i = 0;
    while (i < digits.size() && text::isCSpace(digits[i])) ++i;
    if (i < digits.size() && digits[i] == '+') ++i;
    if (base == 16 && i + 1 < digits.size() && digits[i] == '0' && (digits[i + 1] | 0x20) == 'x')
      i += 2;
    std::uint32_t code = 0;
    std::size_t first = i;
    for (; i < digits.size(); ++i) {
      char c = digits[i];
      int d = c >= '0' && c <= '9'                     ? c - '0'
              : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                       : 99;
      if (d >= base) break;
      code = code * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
    }
    if (i == first || i != digits.size()) return fail("a malformed character reference");
    if (code == 0) return fail("a text holding a NUL");
    if (code > 0x10FFFF) return fail("a character reference beyond U+10FFFF");
    appendUtf8(out, code);
    pos_ = semicolon + 1;
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::vector<OpenContainer> stack_;
  std::size_t openPlists_ = 0;  // <plist> tags open outside any container, less those closed
  bool valueBegun_ = false;     // an element has begun since the last <plist>
  bool afterValue_ = false;     // the value has been read
  bool emptyRoot_ = false;      // the value is a container written as one empty tag
  std::string error_;
  std::uint64_t memory_;  // what the values read so far may still take
  TextPool texts_;
  std::uint64_t textsCharged_ = 0;  // what of the pool's memory has been charged
  std::string text_;                // an element's text, its buffer kept from one to the next
};

}  // namespace

PlistReadResult readXmlPlist(std::string_view bytes) { return XmlReader(bytes).run(); }

}  // namespace strandel::plist
