// A hostile image: its tool tries each way out of the sandbox that a tool run could take
// (the terminal, the host's powers, the network, the host's descriptors, IPC, processes, time
// and disk), one row each, and every one must be refused; and a tool of the image's own reaches
// only its image. The tool runs as `os version`, `verify` and `fda` run theirs: through the image
// machine's Processes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/ConfinedStart.hpp"
#include "platform/linux/Sandbox.hpp"
#include "platform/posix/Processes.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

constexpr const char* kTool = "/usr/bin/hostile";

// A socket of `type` on a free port of 127.0.0.1 (listening, for a stream), its number in `port`.
UniqueFd onLoopback(int type, int& port) {
  UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd && ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      (type != SOCK_STREAM || ::listen(fd.get(), 4) == 0) &&
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  return fd;
}

// The host's side of the escapes: the things a tool must not reach, set up once.
struct Host {
  testing::TempDir dir;
  UniqueFd udp, unixListener, secret;
  int udpPort = 0;
  int shmId = -1;
  int nice = ::getpriority(PRIO_PROCESS, 0);
  std::string unixPath;
  // The test's standard input a pseudo-terminal, whose typed-in bytes show on its master.
  UniqueFd terminal, savedInput;

  Host() {
    // Above the standard streams, whichever of them the test runner left closed.
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    terminal = UniqueFd(master >= 0 ? ::fcntl(master, F_DUPFD_CLOEXEC, 10) : -1);
    if (master >= 0) ::close(master);
    if (terminal && ::grantpt(terminal.get()) == 0 && ::unlockpt(terminal.get()) == 0) {
      int slave = ::open(::ptsname(terminal.get()), O_RDWR | O_NOCTTY);
      savedInput = UniqueFd(::fcntl(0, F_DUPFD_CLOEXEC, 3));
      if (slave > 0) {  // 0 when the runner had left standard input closed: it is then already
        ::dup2(slave, 0);
        ::close(slave);
      }
    }
    udp = onLoopback(SOCK_DGRAM, udpPort);
    unixPath = (dir.path() / "host.sock").string();
    unixListener = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    std::strncpy(local.sun_path, unixPath.c_str(), sizeof local.sun_path - 1);
    if (unixListener) {
      ::bind(unixListener.get(), reinterpret_cast<sockaddr*>(&local), sizeof local);
      ::listen(unixListener.get(), 4);
    }
    shmId = ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0666);
    if (void* memory = ::shmat(shmId, nullptr, 0); memory != reinterpret_cast<void*>(-1)) {
      std::memcpy(memory, "host!", 5);
      ::shmdt(memory);
    }
    // A descriptor left open across exec, as a careless host would: the tool asks for 7.
    testing::writeFile(dir.path() / "secret", "the host's secret\n");
    int fd = ::open((dir.path() / "secret").c_str(), O_RDONLY);
    if (fd >= 0 && fd != 7) {
      ::dup2(fd, 7);
      ::close(fd);
    }
    secret = UniqueFd(7);
  }
  ~Host() {
    if (shmId >= 0) ::shmctl(shmId, IPC_RMID, nullptr);
    if (savedInput) ::dup2(savedInput.get(), 0);
  }
  bool typedInto() const {
    char byte;
    return ::read(terminal.get(), &byte, 1) > 0;
  }
  std::string readShm() const {
    void* memory = ::shmat(shmId, nullptr, SHM_RDONLY);
    if (memory == reinterpret_cast<void*>(-1)) return "(none)";
    std::string text(static_cast<const char*>(memory), 5);
    ::shmdt(memory);
    return text;
  }
};

bool udpReceived(const Host& host) {
  char byte;
  return ::recv(host.udp.get(), &byte, 1, MSG_DONTWAIT) > 0;
}

bool unixAccepted(const Host& host) { return ::accept(host.unixListener.get(), nullptr, nullptr) >= 0; }

// A process of the host named "strandel-left": what a detached child of the tool calls itself.
bool leftoverRunning() {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    if (readFile(entry.path() / "comm") == "strandel-left\n") return true;
  }
  return false;
}

// One way out: the hostile tool's arguments, and what the host sees afterwards (true when the
// escape left a mark; empty: the tool's own word is all there is).
struct Escape {
  const char* name;
  std::string command;
  std::function<bool()> leftMark{};
  bool asAUser = true;  // tried again by an ordinary user's `os version`
  // A tool the time limit ended has said nothing; the mark it left is then the whole check.
  bool mayRunOutOfTime = false;
  // Refused only where a run gets a layer of its own over the image's tmp/.
  bool needsRunLayer = false;
};

// Whether the escape is tried here: the per-run write bound needs what some kernels refuse.
bool triedHere(const Escape& escape) { return !escape.needsRunLayer || !live::runWritesBoundedPerFileOnly(); }

std::uintmax_t sizeOr0(const fs::path& path) {
  std::error_code error;
  std::uintmax_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

std::vector<Escape> escapes(const Host& host, const fs::path& image) {
  const fs::path big = image / "root/tmp/big";
  const fs::path tmp = image / "root/tmp";
  return {
      {"terminal injection on the standard streams", "tiocsti 0", [&host] { return host.typedInto(); }, false},
      {"terminal injection through /dev/tty", "tty"},
      {"reading the user's input", "stdin"},
      {"a descriptor the host left open", "fd 7"},
      {"UDP to the loopback", "udp " + std::to_string(host.udpPort), [&host] { return udpReceived(host); }},
      {"a path socket of the host", "unix " + host.unixPath, [&host] { return unixAccepted(host); }},
      {"a raw socket", "raw"},
      {"the kernel log", "klog"},
      {"setting the host's name", "hostname"},
      {"chroot", "chroot"},
      {"mounting", "mount"},
      {"the session keyring", "keyring"},
      {"ptrace", "ptrace"},
      {"perf_event_open", "perf"},
      {"bpf", "bpf"},
      {"a user namespace of its own", "userns"},
      {"a shared-memory segment of the host", "shm " + std::to_string(host.shmId),
       [&host] { return host.readShm() != "host!"; }},
      {"renicing a host process", "renice " + std::to_string(::getpid()),
       [&host] { return ::getpriority(PRIO_PROCESS, 0) != host.nice; }, false},
      {"400 processes at once, root included", "fork 400", {}, false},
      {"300 MB on the image's disk", "fill " + big.string(),
       [big] {
         std::error_code error;
         return fs::file_size(big, error) > (std::uintmax_t{64} << 20);
       },
       false, true},
      {"two 40 MB files in one run", "fill-two " + tmp.string(),
       [tmp] { return sizeOr0(tmp / "first") + sizeOr0(tmp / "second") > (std::uintmax_t{64} << 20); }, true, false,
       true},
  };
}

std::vector<std::string> words(const std::string& command) {
  std::istringstream in(command);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

class ImageEscapes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("STRANDEL_TOOL_TIMEOUT", "0.5", 1);
    testing::ImageBuilder image;
    image.file(kTool, readFile(STRANDEL_HOSTILE_TOOL), 0755);
    image.file("/tmp/.keep", "");
    machine_ = new testing::ScopedMachine(image);
    ::unsetenv("STRANDEL_TOOL_TIMEOUT");
  }
  static void TearDownTestSuite() {
    delete machine_;
    machine_ = nullptr;
  }

  static std::string run(std::vector<std::string> arguments) {
    auto output = current()->processes().runTool({.tool = kTool, .arguments = std::move(arguments)});
    return output ? output->bytes : "(not run)";
  }

  static testing::ScopedMachine* machine_;
};
testing::ScopedMachine* ImageEscapes::machine_ = nullptr;

TEST_F(ImageEscapes, EveryEscapeIsRefused) {
  Host host;
  ASSERT_GT(host.udpPort, 0);
  ASSERT_GE(host.shmId, 0);
  ASSERT_TRUE(host.terminal);
  for (const Escape& escape : escapes(host, machine_->dir())) {
    std::string said = run(words(escape.command));
    if (!triedHere(escape)) continue;
    if (!(said.empty() && escape.mayRunOutOfTime)) {
      EXPECT_EQ(said.rfind("refused", 0), 0u) << escape.name << ": " << said;
    }
    EXPECT_FALSE(escape.leftMark && escape.leftMark()) << escape.name;
  }
}

TEST_F(ImageEscapes, WhatAToolWritesToStandardErrorReachesTheUserEscaped) {
  testing::TempDir dir;
  UniqueFd saved(::dup(2));
  int captured = ::open((dir.path() / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(captured, 0);
  ::dup2(captured, 2);
  ::close(captured);
  std::string said = run({"stderr"});
  ::dup2(saved.get(), 2);
  EXPECT_EQ(said.rfind("refused", 0), 0u) << said;
  EXPECT_EQ(readFile(dir.path() / "stderr"), "\\x1b[2J\\x07\\x0d");
}

TEST_F(ImageEscapes, AToolThatNeverEndsIsEndedWithAllItStarted) {
  EXPECT_EQ(run({"hang"}), "");
  if (live::ownNamespacesRefused()) GTEST_SKIP() << "this kernel refuses user namespaces: a detached child can stay";
  EXPECT_EQ(run({"detach"}), "escaped\n");  // it could start one, and it is gone with the run
  EXPECT_FALSE(leftoverRunning());
}

// The verify runs its tool through the shell and streams it; the Full Disk Access database
// tool writes to a file. Both are held to the same rules.
TEST_F(ImageEscapes, TheShellAndFileRunsAreHeldToTheSameRules) {
  Host host;
  auto stream = current()->processes().openShell(kTool, "fd 7");
  ASSERT_TRUE(stream);
  char buffer[256];
  auto n = stream->readPiece(buffer, sizeof buffer);
  ASSERT_TRUE(n.has_value());
  EXPECT_EQ(std::string(buffer, *n).rfind("refused", 0), 0u) << buffer;
  stream->close();

  testing::TempDir dir;
  UniqueFd file(::open((dir.path() / "out").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(current()->processes().runToolToFile({.tool = kTool, .arguments = {"stdin"}}, file.get()));
  EXPECT_EQ(readFile(dir.path() / "out").rfind("refused", 0), 0u);
  stream = current()->processes().openShell(kTool, "hang");
  ASSERT_TRUE(stream);
  EXPECT_FALSE(stream->readPiece(buffer, sizeof buffer).has_value());
}

// The same escapes as an ordinary user, through the tool as a person runs it: `os version`
// runs the image's sw_vers, which tries them all and leaves its report in the image's tmp/.
TEST(ImageEscapesAsAUser, OsVersionReachesNothing) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "can't switch to an ordinary user here (not root, or no setpriv)";
  Host host;
  fs::permissions(host.dir.path(), fs::perms(0755));
  fs::permissions(host.unixPath, fs::perms(0777));
  testing::TempDir dir;
  std::string list;
  int tried = 0;
  for (const Escape& escape : escapes(host, dir.path())) {
    if (!escape.asAUser || !triedHere(escape)) continue;
    list += " '" + escape.command + "'";
    ++tried;
  }
  testing::ImageBuilder image;
  image.file(kTool, readFile(STRANDEL_HOSTILE_TOOL), 0755);
  image.tool("/usr/bin/sw_vers", "#!/bin/sh\nhere=\"${0%/*}\"\nfor escape in" + list +
                                     "; do \"$here/hostile\" $escape >> \"$here/../../tmp/report\"; done\n");
  fs::permissions(dir.path(), fs::perms(0755));
  image.write(dir.path());
  fs::permissions(dir.path() / "root/tmp", fs::perms(0777));
  std::string command = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " + testing::toolPath() +
                        " --machine " + dir.str() + " os version > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string report = readFile(dir.path() / "root/tmp/report");
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), tried) << report;
  EXPECT_EQ(report.find("escaped"), std::string::npos) << report;
  for (const Escape& escape : escapes(host, dir.path()))
    EXPECT_FALSE(escape.asAUser && triedHere(escape) && escape.leftMark && escape.leftMark()) << escape.name;
}

// The files and the network, by a tool of the image's own: it reads and writes only its image
// and connects nowhere, while the same tool run unconfined does it all (so the refusals are the
// sandbox's, not the tool's). $1: a file outside the image to create; $2: a listening port.
TEST(ImageSandbox, AToolReadsAndWritesOnlyItsImageAndConnectsNowhere) {
  if (live::landlockAbi() < 1) GTEST_SKIP() << "this kernel has no Landlock";
  int port = 0;
  UniqueFd listener = onLoopback(SOCK_STREAM, port);
  ASSERT_GT(port, 0);
  testing::ImageBuilder image;
  image.tool("/usr/bin/intruder",
             "#!/bin/sh\nhere=\"${0%/*}\"\n"
             "/bin/cat /etc/passwd > /dev/null 2>&1 && echo read-host\n"
             "echo x 2>/dev/null > \"$1\" && echo wrote-host\n"
             "/usr/bin/bash -c \"exec 3<>/dev/tcp/127.0.0.1/$2\" 2>/dev/null && echo connected\n"
             "/bin/cat \"$here/intruder.d/own\"\n"
             "echo x > \"$here/../../tmp/mine\" && echo wrote-tmp\n");
  image.file("/usr/bin/intruder.d/own", "own-data\n");
  testing::ScopedMachine machine(image);
  testing::TempDir outside;
  auto confined = current()->processes().runTool(
      {.tool = "/usr/bin/intruder", .arguments = {outside.str() + "/a", std::to_string(port)}});
  EXPECT_EQ(confined ? confined->bytes : "(not run)", "own-data\nwrote-tmp\n");
  EXPECT_FALSE(fs::exists(outside.path() / "a"));
  EXPECT_LT(::accept(listener.get(), nullptr, nullptr), 0);
  auto unconfined = live::makeHostProcesses()->runTool({.tool = (machine.dir() / "root/usr/bin/intruder").string(),
                                                        .arguments = {outside.str() + "/b", std::to_string(port)}});
  EXPECT_EQ(unconfined ? unconfined->bytes : "(not run)", "read-host\nwrote-host\nconnected\nown-data\nwrote-tmp\n");
}

// Runs that leave nothing in tmp/ (most) and runs that do, one after the other: each run sees
// what the runs before it left, and the host finds it there afterwards.
TEST(ImageSandbox, WhatARunLeavesInTmpIsThereForLaterRuns) {
  testing::ImageBuilder image;
  image.tool("/usr/bin/notes",
             "#!/bin/sh\nnotes=\"${0%/*}/../../tmp/notes\"\n"
             "[ \"$1\" = add ] && echo \"$2\" >> \"$notes\"\n"
             "/bin/cat \"$notes\" 2>/dev/null; exit 0\n");
  image.file("/tmp/.keep", "");
  testing::ScopedMachine machine(image);
  const struct {
    std::vector<std::string> arguments;
    const char* seen;
  } runs[] = {
      {{}, ""},       {{"add", "a"}, "a\n"},       {{}, "a\n"}, {{}, "a\n"}, {{"add", "b"}, "a\nb\n"},
      {{}, "a\nb\n"}, {{"add", "c"}, "a\nb\nc\n"},
  };
  for (const auto& run : runs) {
    auto output = current()->processes().runTool({.tool = "/usr/bin/notes", .arguments = run.arguments});
    EXPECT_EQ(output ? output->bytes : "(not run)", run.seen) << ::testing::PrintToString(run.arguments);
  }
  EXPECT_EQ(readFile(machine.dir() / "root/tmp/notes"), "a\nb\nc\n");
}

// Runs on several threads at once, some leaving a file in tmp/: each gets its own output, and
// every file left is there afterwards whichever start held the kept stack and socket.
TEST(ImageSandbox, ToolsRunOnSeveralThreadsAtOnce) {
  testing::ImageBuilder image;
  image.tool("/usr/bin/mark", "#!/bin/sh\n[ -n \"$2\" ] && echo \"$1\" > \"${0%/*}/../../tmp/$1\"\necho \"$1\"\n");
  image.file("/tmp/.keep", "");
  testing::ScopedMachine machine(image);
  constexpr int kThreads = 4, kRuns = 6;
  auto name = [](int thread, int run) { return "t" + std::to_string(thread) + "r" + std::to_string(run); };
  auto leaves = [](int run) { return run % 3 == 0; };
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      for (int run = 0; run < kRuns; ++run) {
        std::vector<std::string> arguments{name(thread, run)};
        if (leaves(run)) arguments.push_back("leave");
        auto output = current()->processes().runTool({.tool = "/usr/bin/mark", .arguments = arguments});
        if (!output || output->bytes != name(thread, run) + "\n") ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  for (int thread = 0; thread < kThreads; ++thread)
    for (int run = 0; run < kRuns; run += 3)
      EXPECT_EQ(readFile(machine.dir() / "root/tmp" / name(thread, run)), name(thread, run) + "\n");
}

}  // namespace
}  // namespace strandel::platform
