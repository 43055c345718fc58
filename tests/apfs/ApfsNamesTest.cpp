#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

#include "apfs/ApfsNames.hpp"

namespace strandel {
namespace {

TEST(LastPathComponent, Table) {
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"disk3", "disk3"},          {"/dev/disk3", "disk3"},   {"/dev/rdisk3", "rdisk3"},
      {"/dev/disk3/", "disk3"},    {"/dev/disk3//", "disk3"}, {"dev/disk3", "disk3"},
      {"/", "/"},                  {"//", "/"},               {"", ""},
      {"/disk3", "disk3"},         {"a b/c d", "c d"},        {"/Volumes/Macintosh HD", "Macintosh HD"},
  };
  for (const auto& [text, component] : cases) EXPECT_EQ(lastPathComponent(text), component) << text;
}

TEST(PathTail, Table) {
  const std::vector<std::pair<std::string_view, std::optional<std::string_view>>> cases = {
      {"/Volumes/Backup", "/Backup"}, {"/", "/"},         {"/Volumes/Data/", "/"},
      {"/System/Volumes/Data", "/Data"}, {"Backup", std::nullopt}, {"", std::nullopt},
      {"a/b", "/b"},                  {"//", "/"},
  };
  for (const auto& [path, tail] : cases) EXPECT_EQ(pathTail(path), tail) << path;
}

}  // namespace
}  // namespace strandel
