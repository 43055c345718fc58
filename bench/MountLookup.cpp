// Mount lookups on a 5,000-entry table against two floors measured in the same run: libmount
// parsing the same mountinfo file and walking it to the entry (the floor of any lookup that
// reads the table through libmount), and the honest floor of any lookup at all, one read of the
// file and a hand scan of its lines that decodes only the mount point it compares. The live
// mount table is pointed at a generated file so that all of them read exactly the same bytes.
//
// Goals: getVolumeMountFromName within 1.2 times the libmount floor. Against the hand scan the
// figure is reported, not held to: libmount also checks and decodes every field of every
// line, and a real host lists tens of mounts, not thousands (see docs/performance.md).
// Run: bench/bench_MountLookup --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <libmount/libmount.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <strandel/Strandel.hpp>

#include "platform/Machine.hpp"
#include "platform/linux/Libmount.hpp"
#include "platform/linux/LiveMachine.hpp"
#include "platform/linux/LiveMountTable.hpp"

namespace strandel::bench {
namespace {

constexpr int kEntries = 5000;

// Mount points with blanks (written \040 as the kernel does), slices of many disks, and the
// pseudo file systems a host lists first.
std::string writeMountInfo() {
  char pattern[] = "/tmp/strandel-mountinfo-XXXXXX";
  int fd = ::mkstemp(pattern);
  ::close(fd);
  std::ofstream out(pattern);
  out << "21 1 0:20 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
         "22 1 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw\n"
         "23 1 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev "
         "rw,size=4010000k,nr_inodes=1002500,mode=755\n";
  for (int i = 3; i < kEntries; ++i) {
    out << 100 + i << " 1 1:" << i << " / /Volumes/Backup\\040Disk\\040" << i
        << " rw,nosuid,nodev,relatime shared:" << i << " - apfs /dev/disk" << i / 10 + 1 << "s"
        << i % 10 + 1 << " rw,journaled\n";
  }
  return pattern;
}

const std::string& mountInfo() {
  struct File {
    std::string path = writeMountInfo();
    ~File() { std::filesystem::remove(path); }
  };
  static const File file;
  return file.path;
}

// The live host with its mount table read from the generated file.
std::shared_ptr<platform::Machine> fileTableMachine(const std::string& path) {
  platform::MachineServices services = platform::live::makeLiveMachine()->services();
  services.mountTable = platform::live::makeLiveMountTable(path);
  return std::make_shared<platform::Machine>(std::move(services));
}

void useFileTable() {
  static bool once = [] {
    platform::setCurrent(fileTableMachine(mountInfo()));
    return true;
  }();
  (void)once;
}

const std::string kLastMountPoint = "/Volumes/Backup Disk " + std::to_string(kEntries - 1);
const std::string kLastDevice = "/dev/disk" + std::to_string((kEntries - 1) / 10 + 1) + "s" +
                                std::to_string((kEntries - 1) % 10 + 1);

// The floor: parse, walk to the entry, copy its other name.
std::string libmountFind(const std::string& path, const char* on) {
  platform::live::LibmountTable table(mnt_new_table());
  if (mnt_table_parse_file(table.get(), path.c_str()) != 0) return "";
  platform::live::LibmountIter iter(mnt_new_iter(MNT_ITER_FORWARD));
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
    const char* target = mnt_fs_get_target(fs);
    if (target && std::strcmp(target, on) == 0) {
      const char* source = mnt_fs_get_source(fs);
      return source ? source : "";
    }
  }
  return "";
}

// The mount point field of a mountinfo line with the kernel's octal escapes undone.
std::string_view unescaped(std::string_view field, std::string& storage) {
  if (field.find('\\') == std::string_view::npos) return field;
  storage.clear();
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      storage += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                   (field[i + 3] - '0'));
      i += 3;
    } else {
      storage += field[i];
    }
  }
  return storage;
}

// The honest floor: read the file whole, then per line skip to the fifth field (the mount
// point), compare it, and on a match take the source after the " - " separator.
std::string handScanFind(const std::string& path, std::string_view on) {
  // /proc files report no size: read in large pieces until the end, as any reader must.
  std::string bytes;
  {
    base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char piece[1 << 16];
    for (ssize_t n; (n = ::read(fd.get(), piece, sizeof piece)) > 0;)
      bytes.append(piece, static_cast<std::size_t>(n));
  }
  std::string storage;
  std::string_view rest = bytes;
  while (!rest.empty()) {
    std::size_t lineEnd = rest.find('\n');
    std::string_view line = rest.substr(0, lineEnd);
    rest.remove_prefix(lineEnd == std::string_view::npos ? rest.size() : lineEnd + 1);
    std::size_t at = 0;
    for (int field = 0; field < 4 && at != std::string_view::npos; ++field)
      at = line.find(' ', at) + 1;
    if (at == 0) continue;
    std::size_t end = line.find(' ', at);
    if (unescaped(line.substr(at, end - at), storage) != on) continue;
    std::size_t separator = line.find(" - ", end);
    if (separator == std::string_view::npos) return "";
    std::size_t source = line.find(' ', separator + 3);
    if (source == std::string_view::npos) return "";
    std::string_view tail = line.substr(source + 1);
    return std::string(unescaped(tail.substr(0, tail.find(' ')), storage));
  }
  return "";
}

void BM_FloorHandScan(benchmark::State& state) {
  const std::string& path = mountInfo();
  for (auto _ : state) {
    std::string found = handScanFind(path, kLastMountPoint);
    if (found != kLastDevice) state.SkipWithError("the hand scan found the wrong entry");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_FloorHandScan)->Unit(benchmark::kMicrosecond);

void BM_FloorLibmountParseAndFind(benchmark::State& state) {
  const std::string& path = mountInfo();
  for (auto _ : state) {
    std::string found = libmountFind(path, kLastMountPoint.c_str());
    if (found != kLastDevice) state.SkipWithError("the floor found the wrong entry");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_FloorLibmountParseAndFind)->Unit(benchmark::kMicrosecond);

void BM_MountFromName(benchmark::State& state) {
  useFileTable();
  for (auto _ : state) {
    std::string found = getVolumeMountFromName(kLastMountPoint);
    if (found != kLastDevice) state.SkipWithError("getVolumeMountFromName found the wrong entry");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_MountFromName)->Unit(benchmark::kMicrosecond);

void BM_MountOnName(benchmark::State& state) {
  useFileTable();
  // The worst case: every entry's name is tested by prefix and by substring before the last.
  std::string bsd = kLastDevice.substr(5);
  for (auto _ : state) {
    std::string found = getVolumeMountOnName(bsd);
    if (found != kLastMountPoint) state.SkipWithError("getVolumeMountOnName found the wrong entry");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_MountOnName)->Unit(benchmark::kMicrosecond);

void BM_MountFromNameMissing(benchmark::State& state) {
  useFileTable();
  for (auto _ : state) benchmark::DoNotOptimize(getVolumeMountFromName("/Volumes/Nowhere"));
}
BENCHMARK(BM_MountFromNameMissing)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace strandel::bench
