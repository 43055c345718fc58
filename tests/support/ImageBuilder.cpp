#include "tests/support/ImageBuilder.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include <strandel/Machine.hpp>

namespace strandel::testing {
namespace {

PlistValue entryValue(const Entry& entry) {
  PlistDict dict;
  dict["Class"] = entry.className;
  if (entry.ioMedia) dict["IOMedia"] = *entry.ioMedia;
  if (!entry.properties.empty()) dict["Properties"] = entry.properties;
  if (entry.description) dict["Description"] = *entry.description;
  if (!entry.children.empty()) {
    PlistArray children;
    for (const auto& child : entry.children) children.push_back(entryValue(child));
    dict["Children"] = std::move(children);
  }
  return dict;
}

// The description every media object holds, and the registry properties that name it.
Entry media(const std::string& bsd, std::uint64_t size, const std::string& content, bool whole) {
  Entry e;
  e.properties["BSD Name"] = bsd;
  e.description = PlistDict{{"DAMediaBSDName", PlistValue(bsd)},
                            {"DAMediaSize", PlistValue(size)},
                            {"DAMediaContent", PlistValue(content)},
                            {"DAMediaWhole", PlistValue(whole)}};
  if (whole) e.properties["Whole"] = true;
  return e;
}

}  // namespace

std::string mountUrl(const std::string& mountPath) {
  if (mountPath.empty()) return "";
  std::string url = "file://";
  for (unsigned char c : mountPath) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
                 c == '_' || c == '.' || c == '~';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      url += hex;
    }
  }
  if (url.back() != '/') url += '/';
  return url;
}

Entry wholeDisk(const std::string& bsd, std::uint64_t size, const std::string& protocol, bool internal) {
  Entry e = media(bsd, size, "GUID_partition_scheme", true);
  e.properties["Size"] = size;
  (*e.description)["DADeviceProtocol"] = protocol;
  (*e.description)["DADeviceInternal"] = internal;
  return e;
}

Entry partition(const std::string& bsd, const std::string& content, std::uint64_t size) {
  Entry e = media(bsd, size, content, false);
  e.properties["Content"] = content;
  return e;
}

Entry apfsContainerDisk(const std::string& bsd, std::uint64_t size) {
  Entry container;
  container.className = "AppleAPFSContainer";
  container.ioMedia = false;
  Entry disk = media(bsd, size, "EF57347C-0000-11AA-AA11-00306543ECAC", true);
  disk.className = "AppleAPFSMedia";
  container.child(std::move(disk));
  return container;
}

Entry volume(const VolumeOutline& outline) {
  Entry e;
  e.className = outline.kind == "apfs" ? "AppleAPFSVolume" : "IOMedia";
  e.properties["BSD Name"] = outline.bsd;
  if (!outline.role.empty()) e.properties["Role"] = PlistArray{PlistValue(outline.role)};
  PlistDict d;
  d["DAMediaBSDName"] = outline.bsd;
  d["DAMediaSize"] = outline.size;
  d["DADeviceInternal"] = outline.internal;
  d["DADeviceProtocol"] = outline.protocol;
  if (!outline.name.empty()) d["DAVolumeName"] = outline.name;
  if (!outline.kind.empty()) d["DAVolumeKind"] = outline.kind;
  if (!outline.type.empty()) d["DAVolumeType"] = outline.type;
  std::string content = outline.content.empty() && outline.kind == "apfs" ? kApfsContent : outline.content;
  if (!content.empty()) d["DAMediaContent"] = content;
  if (!outline.mountPath.empty()) d["DAVolumePath"] = mountUrl(outline.mountPath);
  e.description = std::move(d);
  return e;
}

ImageBuilder& ImageBuilder::add(Entry root) {
  roots_.push_back(std::move(root));
  return *this;
}

ImageBuilder& ImageBuilder::mount(MountOutline mount) {
  mounts_.push_back(std::move(mount));
  return *this;
}

ImageBuilder& ImageBuilder::file(const std::string& path, const std::string& contents, unsigned mode) {
  files_.push_back({path, {contents, mode}});
  return *this;
}

ImageBuilder& ImageBuilder::tool(const std::string& path, const std::string& script) {
  return file(path, script, 0755);
}

ImageBuilder& ImageBuilder::userName(const std::string& name) {
  userName_ = name;
  return *this;
}

PlistValue ImageBuilder::machinePlist() const {
  PlistDict top;
  PlistArray registry;
  for (const auto& root : roots_) registry.push_back(entryValue(root));
  top["Registry"] = std::move(registry);
  PlistArray mounts;
  for (const auto& m : mounts_) {
    mounts.push_back(PlistDict{{"f_mntonname", PlistValue(m.on)},
                               {"f_mntfromname", PlistValue(m.from)},
                               {"f_fstypename", PlistValue(m.type)},
                               {"f_bsize", PlistValue(static_cast<std::int64_t>(m.blockSize))},
                               {"f_blocks", PlistValue(m.blocks)},
                               {"f_bfree", PlistValue(m.freeBlocks)}});
  }
  top["Mounts"] = std::move(mounts);
  if (userName_) top["UserName"] = *userName_;
  return top;
}

void ImageBuilder::write(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(dir / "root" / "tmp");
  // XML, unless it can't hold a name exactly (a control character): then binary, as the
  // importer writes it.
  const PlistValue machine = machinePlist();
  std::string xml = writeXmlPlist(machine);
  writeFile(dir / "machine.plist", readPlist(xml) == machine ? xml : writeBinaryPlist(machine));
  for (const auto& m : mounts_) {
    if (!m.on.empty() && m.on.front() == '/') std::filesystem::create_directories(dir / "root" / m.on.substr(1));
  }
  for (const auto& [path, contents] : files_)
    writeFile(dir / "root" / path.substr(path.find_first_not_of('/')), contents.first, contents.second);
}

ScopedMachine::ScopedMachine(const ImageBuilder& image) : previous_(platform::current()) {
  image.write(dir_.path());
  auto error = useMachine(dir_.str());
  EXPECT_FALSE(error.has_value()) << *error;
}

ScopedMachine::~ScopedMachine() { platform::setCurrent(previous_); }

}  // namespace strandel::testing
