#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string_view>

#include <strandel/Strandel.hpp>

#include "tests/support/ImageBuilder.hpp"

namespace strandel {
namespace {

using testing::ImageBuilder;
using testing::ScopedMachine;

// A Catalina machine's table (from its `mount`), with the traps of the lookups added: a whole
// disk, a network share, an automounter map, slices whose names begin alike, a folder mounted twice.
ImageBuilder catalinaTable() {
  ImageBuilder image;
  image.mount({.on = "/", .from = "/dev/disk1s5", .type = "apfs"});
  image.mount({.on = "/System/Volumes/Data", .from = "/dev/disk1s1", .type = "apfs"});
  image.mount({.on = "/System/Volumes/Data/home", .from = "map auto_home", .type = "autofs"});
  image.mount({.on = "/Volumes/KINGSTON", .from = "/dev/disk2s1", .type = "ntfs"});
  image.mount({.on = "/Volumes/Mirth Connect Administrator Launcher", .from = "/dev/disk4", .type = "hfs"});
  image.mount({.on = "/Volumes/video", .from = "//riccardo@1.0.1.10/video", .type = "afpfs"});
  // A longer slice listed before its shorter namesake, and a file system mounted over another.
  image.mount({.on = "/Volumes/Ten", .from = "/dev/disk5s10", .type = "apfs"});
  image.mount({.on = "/Volumes/Café Photos", .from = "/dev/disk5s1", .type = "apfs"});
  image.mount({.on = "/Volumes/Eleven", .from = "/dev/disk11s1", .type = "apfs"});
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk6s1", .type = "hfs"});
  image.mount({.on = "/Volumes/Data", .from = "/dev/disk7s1", .type = "apfs"});
  return image;
}

// A lookup and its answer: the source mounted on a mount point, or the mount point of a device.
struct Lookup {
  enum { From, On } kind;
  std::optional<std::string_view> argument;
  const char* answer;
};

void expectAnswers(std::initializer_list<Lookup> lookups) {
  for (const Lookup& l : lookups) {
    EXPECT_EQ(l.kind == Lookup::From ? getVolumeMountFromName(l.argument) : getVolumeMountOnName(l.argument), l.answer)
        << (l.kind == Lookup::From ? "from " : "on ") << l.argument.value_or("(absent)");
  }
}

TEST(MountLookup, CatalinaTable) {
  ScopedMachine machine(catalinaTable());
  expectAnswers({
      {Lookup::From, "/", "/dev/disk1s5"},
      {Lookup::From, "/System/Volumes/Data/home", "map auto_home"},
      {Lookup::From, "/Volumes/video", "//riccardo@1.0.1.10/video"},
      {Lookup::From, "/Volumes/Café Photos", "/dev/disk5s1"},
      {Lookup::From, "/Volumes/Ten", "/dev/disk5s10"},
      // Of two file systems on one folder the table keeps both, and the first decides.
      {Lookup::From, "/Volumes/Data", "/dev/disk6s1"},
      // Equality is literal: no trailing "/", no case folding, no Unicode normalisation (the
      // decomposed é is another text).
      {Lookup::From, "/System/Volumes/Data/", ""},
      {Lookup::From, "/system/volumes/data", ""},
      {Lookup::From, "/Volumes/Cafe\xCC\x81 Photos", ""},
      {Lookup::From, "", ""},
      {Lookup::From, std::nullopt, ""},

      {Lookup::On, "disk1s5", "/"},
      {Lookup::On, "/dev/disk2s1", "/Volumes/KINGSTON"},
      // A whole-disk name finds its first mounted slice in table order, or the whole disk.
      {Lookup::On, "disk1", "/"},
      {Lookup::On, "disk4", "/Volumes/Mirth Connect Administrator Launcher"},
      {Lookup::On, "disk11", "/Volumes/Eleven"},
      // A slice name also finds a longer slice listed before it.
      {Lookup::On, "disk5s1", "/Volumes/Ten"},
      {Lookup::On, "disk7s1", "/Volumes/Data"},
      // "" tests with the device path "/dev/": the first disk mount.
      {Lookup::On, "", "/"},
      // Not device paths, found by substring.
      {Lookup::On, "auto_home", "/System/Volumes/Data/home"},
      {Lookup::On, "1.0.1.10/video", "/Volumes/video"},
      // Not mounted, or absent.
      {Lookup::On, "disk1s9", ""},
      {Lookup::On, "/dev/rdisk1s5", ""},
      {Lookup::On, "DISK1S5", ""},
      {Lookup::On, std::nullopt, ""},
  });
}

}  // namespace
}  // namespace strandel
