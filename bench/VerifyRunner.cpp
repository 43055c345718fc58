// The verify runner's cost per byte of output, against reading the same output and nothing
// else (the floor), and against decoding and copying the whole output on every read.
//
// In memory: the output arrives in reads of 2047 bytes (lines of 2046 bytes and a line feed),
// so only the runner's own work is measured. Through the shell: an image's disk utility prints
// a file of that output, read once by the runner and once by a plain read loop.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <strandel/Machine.hpp>
#include <strandel/StrandelFramework.hpp>

#include "base/Utf8.hpp"
#include "bench/TemporaryFolder.hpp"
#include "framework/Progress.hpp"
#include "platform/Machine.hpp"

namespace {

constexpr std::size_t kRead = 2047;

// Fresh pages cost a fault each, the same for every contender but wildly different from one
// host (or one moment of a loaded host) to the next. Keeping freed memory in the process lets
// the figures compare the work itself.
const bool kKeepFreedMemory = [] {
  ::mallopt(M_MMAP_THRESHOLD, 512 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
  return true;
}();

// `megabytes` of verify-like text in lines of 2046 bytes and a line feed, one em dash a line.
const std::string& output(std::int64_t megabytes) {
  static std::array<std::string, 64> made;
  std::string& text = made[static_cast<std::size_t>(megabytes)];
  if (text.empty()) {
    std::string line = "Checking snapshot 1 of 1 (com.apple.os.update \xE2\x80\x94 ";
    while (line.size() < kRead - 1) line += "0123456789ABCDEF"[line.size() % 16];
    line.resize(kRead - 1);
    line += '\n';
    std::size_t size = static_cast<std::size_t>(megabytes) << 20;
    text.reserve(size + kRead);
    while (text.size() < size) text += line;
  }
  return text;
}

// A delegate that looks at what it is given, as a host showing the progress would.
class Watcher : public strandel::StrandelDelegate {
 public:
  void handleProgress(strandel::ProgressText progress) override {
    seen += progress ? progress->size() : 0;
  }
  std::size_t seen = 0;
};

// Hands `text` over in reads of kRead bytes, each first copied into a read buffer as the
// pipe would fill it.
template <class Read>
void forEachRead(const std::string& text, Read&& read) {
  std::array<char, kRead + 1> buffer;
  for (std::size_t at = 0; at < text.size(); at += kRead) {
    std::size_t n = std::min(kRead, text.size() - at);
    std::memcpy(buffer.data(), text.data() + at, n);
    read(std::string_view(buffer.data(), n));
  }
}

// The floor: each read copied into the read buffer and kept, nothing more.
void BM_PlainReadLoop(benchmark::State& state) {
  const std::string& text = output(state.range(0));
  for (auto _ : state) {
    std::vector<std::uint8_t> kept;
    forEachRead(text,
                [&](std::string_view read) { kept.insert(kept.end(), read.begin(), read.end()); });
    benchmark::DoNotOptimize(kept.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// The runner's work per read: the bytes before a NUL appended, the progress text replaced, the
// delegate told; and at the end the output handed back as its byte buffer.
void BM_ProgressRunner(benchmark::State& state) {
  const std::string& text = output(state.range(0));
  for (auto _ : state) {
    strandel::StrandelFramework framework;
    auto watcher = std::make_shared<Watcher>();
    framework.setDelegate(watcher);
    strandel::framework::ProgressBuffer kept;
    forEachRead(text, [&](std::string_view read) {
      strandel::framework::reportPiece(framework, kept, read);
    });
    auto bytes = reinterpret_cast<const std::uint8_t*>(kept.bytes().data());
    std::vector<std::uint8_t> result(bytes, bytes + kept.bytes().size());
    benchmark::DoNotOptimize(result.data());
    benchmark::DoNotOptimize(watcher->seen);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// What the runner would cost if every read decoded the whole output anew into a new text.
void BM_DecodeEverythingEveryRead(benchmark::State& state) {
  const std::string& text = output(state.range(0));
  for (auto _ : state) {
    strandel::StrandelFramework framework;
    auto watcher = std::make_shared<Watcher>();
    framework.setDelegate(watcher);
    std::vector<std::uint8_t> kept;
    forEachRead(text, [&](std::string_view read) {
      kept.insert(kept.end(), read.begin(), read.begin() + ::strnlen(read.data(), read.size()));
      auto decoded = strandel::base::decodeUtf8(
          std::string_view(reinterpret_cast<const char*>(kept.data()), kept.size()));
      strandel::ProgressText progress =
          decoded ? strandel::makeProgressText(std::move(*decoded)) : nullptr;
      framework.setCurrentProgress(progress);
      watcher->handleProgress(progress);
    });
    benchmark::DoNotOptimize(kept.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// A machine image whose disk utility prints a file of `megabytes` of output, made once.
class ShellImage {
 public:
  ShellImage() {
    std::filesystem::create_directories(dir_ / "root/usr/sbin");
    std::filesystem::create_directories(dir_ / "root/tmp");
    std::ofstream(dir_ / "machine.plist") << strandel::writeXmlPlist(strandel::PlistDict{
        {"Registry", strandel::PlistArray{}}, {"Mounts", strandel::PlistArray{}}});
    std::ofstream(dir_ / "root/usr/sbin/diskutil")
        << "#!/bin/sh\nexec /bin/cat \"${0%/*}/verify-$2.txt\"\n";
    std::filesystem::permissions(dir_ / "root/usr/sbin/diskutil",
                                 std::filesystem::perms::owner_all);
    error_ = strandel::useMachine(dir_.string()).value_or("");
  }
  const std::string& error() const { return error_; }
  void ensureOutput(std::int64_t megabytes) {
    auto path = dir_ / ("root/usr/sbin/verify-" + std::to_string(megabytes) + ".txt");
    if (!std::filesystem::exists(path)) std::ofstream(path, std::ios::binary) << output(megabytes);
  }

 private:
  strandel::bench::TemporaryFolder folder_{"verify"};
  const std::filesystem::path& dir_ = folder_.path();
  std::string error_;
};

ShellImage& shellImage() {
  static ShellImage image;
  return image;
}

// The floor through the shell: the same command line, read in the same pieces, kept, no more.
void BM_ShellPlainReadLoop(benchmark::State& state) {
  if (!shellImage().error().empty()) return state.SkipWithError(shellImage().error().c_str());
  shellImage().ensureOutput(state.range(0));
  std::string arguments = "verifyVolume " + std::to_string(state.range(0));
  std::size_t total = 0;
  for (auto _ : state) {
    auto stream =
        strandel::platform::current()->processes().openShell("/usr/sbin/diskutil", arguments);
    if (!stream) return state.SkipWithError("the shell can't be started");
    std::array<char, kRead + 1> buffer;
    std::vector<std::uint8_t> kept;
    while (auto n = stream->readPiece(buffer.data(), buffer.size()))
      kept.insert(kept.end(), buffer.data(), buffer.data() + *n);
    stream->close();
    total = kept.size();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(total));
}

void BM_ShellRunner(benchmark::State& state) {
  if (!shellImage().error().empty()) return state.SkipWithError(shellImage().error().c_str());
  shellImage().ensureOutput(state.range(0));
  std::string arguments = "verifyVolume " + std::to_string(state.range(0));
  std::size_t total = 0;
  for (auto _ : state) {
    strandel::StrandelFramework framework;
    auto watcher = std::make_shared<Watcher>();
    framework.setDelegate(watcher);
    total = framework.diskUtilityCmd(arguments).size();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(total));
}

}  // namespace

BENCHMARK(BM_PlainReadLoop)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressRunner)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
// Quadratic: 50 MB would take minutes a run, so it is measured at 1 MB and 10 MB.
BENCHMARK(BM_DecodeEverythingEveryRead)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEverythingEveryRead)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShellPlainReadLoop)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShellRunner)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
