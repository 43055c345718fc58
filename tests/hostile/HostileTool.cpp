// A machine image's tool written by an attacker: each command tries one way out of the
// sandbox and prints "escaped" when it worked, else "refused: " and why. Built without
// sanitizers: it runs inside the sandbox, where their runtime could not read what it needs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/klog.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int result(bool escaped) {
  if (escaped) {
    std::puts("escaped");
  } else {
    std::printf("refused: %s\n", std::strerror(errno));
  }
  return 0;
}

bool injectInto(int fd) {
  char c = 'x';
  return ::ioctl(fd, TIOCSTI, &c) == 0;
}

bool sendUdp(int port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&address), sizeof address) == 1;
}

bool connectUnix(const char* path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool readDescriptor(int fd) {
  char buffer[64];
  return ::read(fd, buffer, sizeof buffer) > 0;
}

bool sharedMemory(int id) {
  void* memory = ::shmat(id, nullptr, 0);
  if (memory == reinterpret_cast<void*>(-1)) return false;
  std::memcpy(memory, "owned", 5);
  return true;
}

bool detachChild() {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::prctl(PR_SET_NAME, "strandel-left", 0, 0, 0);
    ::close(1);
    ::close(2);
    ::sleep(30);
    ::_exit(0);
  }
  return pid > 0;
}

int waitForever(void*) {
  for (;;) ::pause();
}

// Starts `count` processes that wait, all at once; true when every one started. They share
// this process's memory, so that hundreds start within the test's time limit, and are ended
// before the answer, so that none outlives the tool even where nothing else would end them.
bool startMany(int count) {
  constexpr int kMost = 1000;
  static char stacks[kMost][16 * 1024];
  std::vector<pid_t> started;
  for (int i = 0; i < std::min(count, kMost); ++i) {
    pid_t pid = ::clone(waitForever, stacks[i] + sizeof stacks[i], CLONE_VM | SIGCHLD, nullptr);
    if (pid < 0) break;
    started.push_back(pid);
  }
  int error = errno;
  for (pid_t pid : started) ::kill(pid, SIGKILL);
  for (pid_t pid : started) ::waitpid(pid, nullptr, 0);
  errno = error;
  return started.size() == static_cast<std::size_t>(count);
}

// Writes `bytes` to `path`; true only when every byte went out.
bool fill(const char* path, long bytes) {
  ::signal(SIGXFSZ, SIG_IGN);  // a refusal then comes back as an error, not a silent end
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  static char block[1 << 20];
  for (long done = 0; done < bytes; done += sizeof block) {
    if (::write(fd, block, sizeof block) != static_cast<ssize_t>(sizeof block)) return false;
  }
  return true;
}

// Two files of 40 MB each in `folder`: a run may leave 64 MB in all, so the second must be
// refused. A refused second file is removed again, leaving room for what the tool says.
bool fillTwo(const std::string& folder) {
  std::string second = folder + "/second";
  if (!fill((folder + "/first").c_str(), 40L << 20)) return false;
  if (fill(second.c_str(), 40L << 20)) return true;
  int error = errno;
  ::unlink(second.c_str());
  errno = error;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string what = argv[1];
  const char* arg = argc > 2 ? argv[2] : "";
  if (what == "tiocsti") return result(injectInto(std::atoi(arg)));
  if (what == "tty") {
    int fd = ::open("/dev/tty", O_RDWR);
    return result(fd >= 0 && injectInto(fd));
  }
  if (what == "stdin") return result(readDescriptor(0));
  if (what == "stderr") {
    std::fputs("\033[2J\a\r", stderr);
    return result(false);
  }
  if (what == "fd") return result(readDescriptor(std::atoi(arg)));
  if (what == "udp") return result(sendUdp(std::atoi(arg)));
  if (what == "unix") return result(connectUnix(arg));
  if (what == "raw") return result(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0);
  if (what == "klog") {
    static char buffer[4096];
    return result(::klogctl(3, buffer, sizeof buffer) >= 0);
  }
  if (what == "hostname") {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return result(::sethostname(name, std::strlen(name)) == 0);
  }
  if (what == "chroot") return result(::chroot("/") == 0);
  if (what == "mount") return result(::mount("none", "/", "tmpfs", 0, nullptr) == 0);
  if (what == "shm") return result(sharedMemory(std::atoi(arg)));
  if (what == "renice") return result(::setpriority(PRIO_PROCESS, std::atoi(arg), 19) == 0);
  if (what == "keyring") return result(::syscall(SYS_keyctl, 0 /* GET_KEYRING_ID */, -3 /* session */, 0) >= 0);
  if (what == "ptrace") return result(::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0);
  if (what == "perf") return result(::syscall(SYS_perf_event_open, nullptr, 0, -1, -1, 0) >= 0 || errno != EPERM);
  if (what == "bpf") return result(::syscall(SYS_bpf, 0, nullptr, 0) >= 0 || errno != EPERM);
  if (what == "userns") return result(::unshare(CLONE_NEWUSER) == 0);
  if (what == "hang") {
    ::pause();
    return result(true);
  }
  if (what == "detach") return result(detachChild());
  if (what == "fill") return result(fill(arg, 300L << 20));
  if (what == "fill-two") return result(fillTwo(arg));
  if (what == "fork") return result(startMany(std::atoi(arg)));
  return 2;
}
