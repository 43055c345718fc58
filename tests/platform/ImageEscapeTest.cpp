// A hostile image: its tool tries each way out of the sandbox that a tool run could take
// (the terminal, the host's powers, the network, the host's descriptors, IPC, processes, time
// and disk), one row each, and every one must be refused. The tool runs as `os version`,
// `verify` and `fda` run theirs: through the image machine's Processes.
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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/ConfinedStart.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/Paths.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

constexpr const char* kTool = "/usr/bin/hostile";

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
    udp = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (udp && ::bind(udp.get(), reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(udp.get(), reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      udpPort = ntohs(address.sin_port);
    }
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
    if (shmId >= 0) writeShm("host!");
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
  void writeShm(const char* text) const {
    void* memory = ::shmat(shmId, nullptr, 0);
    if (memory == reinterpret_cast<void*>(-1)) return;
    std::memcpy(memory, text, 5);
    ::shmdt(memory);
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

struct Escape {
  const char* name;
  std::function<std::vector<std::string>(const Host&, const fs::path& image)> arguments;
  // What the host sees afterwards: true when the escape left a mark. Empty: the tool's own
  // word is all there is.
  std::function<bool(const Host&, const fs::path& image)> leftMark{};
  // A tool the time limit ended has said nothing; the mark it left is then the whole check.
  bool mayRunOutOfTime = false;
};

std::vector<Escape> escapes() {
  auto plain = [](const char* command) {
    return [command](const Host&, const fs::path&) { return std::vector<std::string>{command}; };
  };
  return {
      {"terminal injection on the standard streams",
       [](const Host&, const fs::path&) {
         return std::vector<std::string>{"tiocsti", "0"};
       },
       [](const Host& host, const fs::path&) { return host.typedInto(); }},
      {"terminal injection through /dev/tty", plain("tty")},
      {"reading the user's input", plain("stdin")},
      {"a descriptor the host left open",
       [](const Host&, const fs::path&) {
         return std::vector<std::string>{"fd", "7"};
       }},
      {"UDP to the loopback",
       [](const Host& host, const fs::path&) {
         return std::vector<std::string>{"udp", std::to_string(host.udpPort)};
       },
       [](const Host& host, const fs::path&) { return udpReceived(host); }},
      {"a path socket of the host",
       [](const Host& host, const fs::path&) {
         return std::vector<std::string>{"unix", host.unixPath};
       },
       [](const Host& host, const fs::path&) { return unixAccepted(host); }},
      {"a raw socket", plain("raw")},
      {"the kernel log", plain("klog")},
      {"setting the host's name", plain("hostname")},
      {"chroot", plain("chroot")},
      {"mounting", plain("mount")},
      {"the session keyring", plain("keyring")},
      {"ptrace", plain("ptrace")},
      {"perf_event_open", plain("perf")},
      {"bpf", plain("bpf")},
      {"a user namespace of its own", plain("userns")},
      {"a shared-memory segment of the host",
       [](const Host& host, const fs::path&) {
         return std::vector<std::string>{"shm", std::to_string(host.shmId)};
       },
       [](const Host& host, const fs::path&) { return host.readShm() != "host!"; }},
      {"renicing a host process",
       [](const Host&, const fs::path&) {
         return std::vector<std::string>{"renice", std::to_string(::getpid())};
       },
       [](const Host& host, const fs::path&) { return ::getpriority(PRIO_PROCESS, 0) != host.nice; }},
      {"400 processes at once, root included",
       [](const Host&, const fs::path&) {
         return std::vector<std::string>{"fork", "400"};
       }},
      {"300 MB on the image's disk",
       [](const Host&, const fs::path& image) {
         return std::vector<std::string>{"fill", (image / "root/tmp/big").string()};
       },
       [](const Host&, const fs::path& image) {
         std::error_code error;
         return fs::file_size(image / "root/tmp/big", error) > (std::uintmax_t{64} << 20);
       },
       true},
  };
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
  for (const Escape& escape : escapes()) {
    std::string said = run(escape.arguments(host, machine_->dir()));
    if (!(said.empty() && escape.mayRunOutOfTime)) {
      EXPECT_EQ(said.rfind("refused", 0), 0u) << escape.name << ": " << said;
    }
    if (escape.leftMark) {
      EXPECT_FALSE(escape.leftMark(host, machine_->dir())) << escape.name;
    }
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
  std::string escapes = "'fd 7' 'udp " + std::to_string(host.udpPort) + "' 'unix " + host.unixPath + "' raw klog " +
                        "hostname chroot mount keyring ptrace perf bpf userns 'shm " + std::to_string(host.shmId) +
                        "' stdin tty";
  testing::ImageBuilder image;
  image.file(kTool, readFile(STRANDEL_HOSTILE_TOOL), 0755);
  image.tool("/usr/bin/sw_vers", "#!/bin/sh\nhere=\"${0%/*}\"\nfor escape in " + escapes +
                                     "; do \"$here/hostile\" $escape >> \"$here/../../tmp/report\"; done\n");
  testing::TempDir dir;
  fs::permissions(dir.path(), fs::perms(0755));
  image.write(dir.path());
  fs::permissions(dir.path() / "root/tmp", fs::perms(0777));
  std::string command = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " + testing::toolPath() +
                        " --machine " + dir.str() + " os version > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string report = readFile(dir.path() / "root/tmp/report");
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 16) << report;
  EXPECT_EQ(report.find("escaped"), std::string::npos) << report;
  EXPECT_FALSE(udpReceived(host));
  EXPECT_FALSE(unixAccepted(host));
  EXPECT_EQ(host.readShm(), "host!");
}

}  // namespace
}  // namespace strandel::platform
