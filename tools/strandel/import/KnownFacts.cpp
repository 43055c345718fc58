#include "tools/strandel/import/KnownFacts.hpp"

#include <array>
#include <charconv>

#include "tools/strandel/import/MountText.hpp"
#include "tools/strandel/import/ToolScripts.hpp"

namespace strandel::importer {
namespace {

constexpr std::array<std::string_view, 4> kOrder{"ProductName", "ProductVersion",
                                                 "ProductVersionExtra", "BuildVersion"};

std::size_t rank(std::string_view label) {
  for (std::size_t i = 0; i < kOrder.size(); ++i) {
    if (kOrder[i] == label) return i;
  }
  return kOrder.size();
}

std::string_view labelOf(std::string_view line) {
  std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

// "10.15.7": two to four numbers of at most five digits, as every macOS version is written.
bool isVersion(std::string_view text) {
  std::size_t parts = 0;
  while (true) {
    std::size_t dot = text.find('.');
    std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 5 ||
        part.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts >= 1 && parts <= 4;
}

unsigned majorOf(std::string_view version) {
  unsigned major = 0;
  std::from_chars(version.data(), version.data() + version.size(), major);
  return major;
}

bool isPlainText(std::string_view text) {
  if (text.empty() || text.size() > 100) return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> knownFactsRefusal(const KnownFacts& facts) {
  if (facts.osVersion && !isVersion(*facts.osVersion))
    return "--os-version: \"" + *facts.osVersion + "\" is not a version such as 10.15.7";
  if (facts.build &&
      (facts.build->empty() || facts.build->size() > 20 ||
       facts.build->find_first_not_of(
           "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") != std::string::npos))
    return "--build: \"" + *facts.build + "\" is not a build such as 19H2026 (letters and digits)";
  if (facts.productName && !isPlainText(*facts.productName))
    return "--product-name: give one line of text, such as macOS";
  return std::nullopt;
}

std::string withSwVersLine(std::string_view swVers, std::string_view label,
                           std::string_view value) {
  std::vector<std::string_view> lines = textLines(swVers);
  // A view into `swVers` or a literal: gcc 12 at -O3 takes a short std::string here for
  // uninitialised.
  std::string_view tabs = label == "ProductVersion" && majorOf(value) >= 13 ? "\t\t" : "\t";
  for (std::string_view line : lines) {
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && !labelOf(line).empty() &&
        labelOf(line) != "ProductVersionExtra") {
      std::size_t end = line.find_first_not_of('\t', colon + 1);
      if (end != std::string_view::npos && end > colon + 1)
        tabs = line.substr(colon + 1, end - colon - 1);
      break;
    }
  }
  std::string made;
  made.append(label).append(":").append(tabs).append(value);
  std::string out;
  bool placed = false;
  for (std::string_view line : lines) {
    std::string_view other = labelOf(line);
    if (!placed && other == label) {
      out += made + "\n";
      placed = true;
      continue;
    }
    if (!placed && rank(other) < kOrder.size() && rank(other) > rank(label)) {
      out += made + "\n";
      placed = true;
    }
    out += std::string(line) + "\n";
  }
  if (!placed) out += made + "\n";
  return out;
}

std::vector<std::string> applyKnownFacts(const KnownFacts& facts, Dump& dump, Problems& problems) {
  std::vector<std::string> given;
  auto apply = [&](std::string_view label, const std::optional<std::string>& value) {
    if (!value) return;
    // The line the new one replaces: the first with the label.
    const std::string recorded(
        labelledValue(dump.swVers.value_or(""), label).value_or(std::string_view()));
    dump.swVers = withSwVersLine(dump.swVers.value_or(""), label, *value);
    given.push_back(std::string(label) + " " + *value);
    problems.add("Command line", std::string(label) + " " + *value +
                                     (recorded.empty() ? " (no recording gives it)"
                                                       : " in place of the recorded " + recorded));
  };
  // Without a product name, sw_vers still names the system the way it did for that version.
  std::optional<std::string> productName = facts.productName;
  if (!productName && facts.osVersion &&
      !(dump.swVers && dump.swVers->find("ProductName:") != std::string::npos))
    productName = majorOf(*facts.osVersion) >= 11 ? "macOS" : "Mac OS X";
  if (productName && !facts.productName) {
    dump.swVers = withSwVersLine(dump.swVers.value_or(""), "ProductName", *productName);
  } else {
    apply("ProductName", facts.productName);
  }
  apply("ProductVersion", facts.osVersion);
  apply("BuildVersion", facts.build);
  if (facts.osVersion) dump.productVersion = *facts.osVersion + "\n";
  return given;
}

}  // namespace strandel::importer
