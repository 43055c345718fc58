// Landlock. Debian 12's kernel headers describe ABI 1 and 2 only; the later rights below are
// the kernel's stable ABI (include/uapi/linux/landlock.h), used only after the kernel has said
// which version it speaks, so an older kernel is never handed a right it does not know.
#include "platform/linux/Sandbox.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <linux/landlock.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "platform/app/ProgramName.hpp"
#include "platform/linux/ConfinedStart.hpp"
#include "platform/linux/PassDescriptor.hpp"
#include "platform/linux/RunLayer.hpp"
#include "platform/linux/SeccompFilter.hpp"

#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)  // ABI 2
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)  // ABI 3
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)  // ABI 4
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)  // ABI 6
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

namespace strandel::platform::live {
namespace {

// struct landlock_ruleset_attr as it grew: ABI 4 added the network field, ABI 6 the scopes.
// The kernel takes any prefix of it, so the size handed over says which fields are meant.
struct RulesetAttr {
  std::uint64_t handledAccessFs;
  std::uint64_t handledAccessNet;
  std::uint64_t scoped;
};
constexpr std::size_t kAttrSizeAbi1 = sizeof(std::uint64_t);
constexpr std::size_t kAttrSizeAbi4 = 2 * sizeof(std::uint64_t);
constexpr std::size_t kAttrSizeAbi6 = sizeof(RulesetAttr);

constexpr std::uint64_t kReadRights =
    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr std::uint64_t kWriteRightsAbi1 =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK |
    LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_SYM;
// Devices are never made, so their rights are handled (denied) and never granted.
constexpr std::uint64_t kHandledAbi1 =
    kReadRights | kWriteRightsAbi1 | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_BLOCK;
// The rights that mean something on a file rather than a folder; the kernel refuses others there.
constexpr std::uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                      LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_TRUNCATE;

// What a shell and the core utilities need to start and run, besides the image itself.
constexpr const char* kHostReadable[] = {
    "/usr",
    "/bin",
    "/sbin",
    "/lib",
    "/lib32",
    "/lib64",
    "/libx32",
    "/etc/ld.so.cache",
    "/etc/ld.so.conf",
    "/etc/ld.so.conf.d",
    "/etc/ld.so.preload",
    "/dev/zero",
    "/dev/urandom",
    "/dev/random",
};
constexpr const char* kHostWritable[] = {"/dev/null"};

long createRuleset(const RulesetAttr* attr, std::size_t size, std::uint32_t flags) {
  return ::syscall(SYS_landlock_create_ruleset, attr, size, flags);
}

// What `fd` may be granted of `rights`: the kernel refuses folder rights on a file.
std::optional<std::uint64_t> rightsFor(int fd, std::uint64_t rights) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return S_ISDIR(info.st_mode) ? rights : rights & kFileRights;
}

bool addPath(int ruleset, int fd, std::uint64_t rights) {
  landlock_path_beneath_attr rule{};
  rule.allowed_access = rights;
  rule.parent_fd = fd;
  return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

void sayUnconfinedOnce() {
  static std::once_flag said;
  std::call_once(said, [] {
    std::fprintf(stderr,
                 "%s: this kernel has no Landlock: the tools of machine images can read your files "
                 "and write "
                 "where you can\n",
                 programName().c_str());
  });
}

// Everything the sandbox is made of, built at the first start and kept for the next ones.
class ImageToolSandbox final : public Sandbox,
                               public std::enable_shared_from_this<ImageToolSandbox> {
 public:
  explicit ImageToolSandbox(std::vector<SandboxPath> paths) : paths_(std::move(paths)) {}

  bool usable() const override {
    std::call_once(built_, [this] { build(); });
    return usable_;
  }

  SandboxedChild spawn(const SpawnRequest& request) const override {
    if (!usable()) return {};
    // No ruleset on a usable sandbox: the kernel has no Landlock, and that was said.
    ConfinedChild child = startConfined(
        request, Confinement{ruleset_ ? ruleset_.get() : -1, ruleset_ ? &fileRule_ : nullptr,
                             &filter_, &kept_, &stack_, layerFolder_ >= 0 ? &layerTarget_ : nullptr,
                             letGoReceive_.get()});
    SandboxedChild started{std::move(child.process), nullptr};
    if (started.process && child.layer)
      started.writes = std::make_unique<LayerWrites>(shared_from_this(), std::move(child));
    return started;
  }

 private:
  void build() const {
    buildRuleset();
    if (!usable_) return;
    filter_ = buildSeccompFilter();
    // Without its filter the sandbox would let a tool type into the terminal: nothing starts.
    std::optional<KeptNamespaces> kept = makeKeptNamespaces();
    usable_ = !filter_.empty() && kept;
    if (kept) kept_ = std::move(*kept);
    if (kept_) findLayerTarget();
    int ends[2];
    if (layerFolder_ >= 0 && ::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends) == 0) {
      letGoReceive_.reset(ends[0]);
      letGoSend_.reset(ends[1]);
    }
  }
  void buildRuleset() const;
  void findLayerTarget() const;

  // A run's layer, put in place in the folder it covers once the run has ended.
  class LayerWrites final : public HeldWrites {
   public:
    LayerWrites(std::shared_ptr<const ImageToolSandbox> sandbox, ConfinedChild&& child)
        : sandbox_(std::move(sandbox)),
          root_(std::move(child.layer)),
          namespace_(std::move(child.layerNamespace)),
          joiner_(std::move(child.joiner)) {}
    void putInPlace() override {
      bool wrote = root_ && mergeRunLayer(root_.get(), sandbox_->layerFolder_);
      waitForExit(std::move(joiner_));
      // A layer the run left empty (most runs write nothing) is let go of by the next start;
      // one that held writes is let go of now, so that its memory goes with it.
      if (!wrote && root_ && namespace_ && sandbox_->letGoSend_) {
        int layer[] = {root_.get(), namespace_.get()};
        sendDescriptors(sandbox_->letGoSend_.get(), layer, 2);
      }
      root_.reset();
      namespace_.reset();
    }

   private:
    std::shared_ptr<const ImageToolSandbox> sandbox_;
    UniqueFd root_, namespace_;
    ChildProcess joiner_;
  };

  std::vector<SandboxPath> paths_;
  mutable std::once_flag built_;
  mutable UniqueFd ruleset_;
  mutable FileRule fileRule_;
  mutable std::vector<UniqueFd> hostPaths_;  // the host's folders the file rule grants
  mutable std::vector<sock_filter> filter_;
  mutable KeptNamespaces kept_;
  mutable KeptStack stack_;
  mutable LayerTarget layerTarget_;
  mutable int layerFolder_ = -1;               // the folder each run's layer covers: one of paths_'
  mutable UniqueFd letGoSend_, letGoReceive_;  // ended runs' layers, for the next start
  mutable bool usable_ = false;
};

}  // namespace

std::shared_ptr<const Sandbox> makeSandbox(std::vector<SandboxPath> paths) {
  return std::make_shared<const ImageToolSandbox>(std::move(paths));
}

int landlockAbi() {
  static const int abi = [] {
    long version = createRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return version > 0 ? static_cast<int>(version) : 0;
  }();
  return abi;
}

// Each run writes the one folder it may write (an image's tmp/) through a layer of its own, which
// bounds what a run can leave there (RunLayer.hpp) while keeping what earlier runs and the host
// left there in view, and what the run leaves for later runs and the host to read. A bound per
// sandbox (one tmpfs that every run shares) would let one run take the room of all later ones,
// and would hide the folder's files from the host and from the next process. The layer is laid
// by path in each run's mount namespace; the folder's identity, taken now, is what that path
// must still lead to. Only the first writable folder is layered: an image has just the one.
void ImageToolSandbox::findLayerTarget() const {
  for (const SandboxPath& path : paths_) {
    if (path.access != SandboxAccess::ReadWrite || !path.fd) continue;
    struct stat info;
    if (::fstat(path.fd.get(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
    std::string link = "/proc/self/fd/" + std::to_string(path.fd.get());
    std::string name(PATH_MAX, '\0');
    ssize_t n = ::readlink(link.c_str(), name.data(), name.size());
    // A folder removed since (its name then ends in " (deleted)") leads nowhere by path: the
    // runs fail to start rather than write it unbounded; one the kernel can't name is left so.
    if (n <= 0 || static_cast<std::size_t>(n) >= name.size() || name[0] != '/') return;
    name.resize(static_cast<std::size_t>(n));
    layerTarget_ = LayerTarget{std::move(name), info.st_dev, info.st_ino};
    layerFolder_ = path.fd.get();
    return;
  }
}

void ImageToolSandbox::buildRuleset() const {
  int abi = landlockAbi();
  if (abi < 1) {
    sayUnconfinedOnce();
    usable_ = true;
    return;
  }
  std::uint64_t handled = kHandledAbi1;
  std::uint64_t write = kWriteRightsAbi1;
  if (abi >= 2) {
    handled |= LANDLOCK_ACCESS_FS_REFER;
    write |= LANDLOCK_ACCESS_FS_REFER;
  }
  if (abi >= 3) {
    handled |= LANDLOCK_ACCESS_FS_TRUNCATE;
    write |= LANDLOCK_ACCESS_FS_TRUNCATE;
  }
  RulesetAttr attr{handled, 0, 0};
  std::size_t size = kAttrSizeAbi1;
  if (abi >= 4) {
    // Handled with no rule granting a port: every TCP connect and bind is refused.
    attr.handledAccessNet = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
    size = kAttrSizeAbi4;
  }
  if (abi >= 6) {
    attr.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
    size = kAttrSizeAbi6;
  }
  UniqueFd ruleset(static_cast<int>(createRuleset(&attr, size, 0)));
  if (!ruleset) return;
  // Every grant is also kept, descriptors held open, for the runs that build the rule again.
  FileRule rule{
      {attr.handledAccessFs, attr.handledAccessNet, attr.scoped}, size, {}, kReadRights | write};
  auto add = [&](int fd, std::uint64_t wanted) {
    std::optional<std::uint64_t> rights = rightsFor(fd, wanted);
    if (!rights || !addPath(ruleset.get(), fd, *rights)) return false;
    rule.grants.emplace_back(fd, *rights);
    return true;
  };
  for (const SandboxPath& path : paths_) {
    if (!path.fd ||
        !add(path.fd.get(),
             path.access == SandboxAccess::ReadWrite ? kReadRights | write : kReadRights))
      return;
  }
  // A host folder that this system does not have is simply not granted.
  auto addHost = [&](const char* name, std::uint64_t rights) {
    UniqueFd fd(base::retryAfterSignal([&] { return ::open(name, O_PATH | O_CLOEXEC); }));
    if (!fd) return true;
    if (!add(fd.get(), rights)) return false;
    hostPaths_.push_back(std::move(fd));
    return true;
  };
  for (const char* name : kHostReadable)
    if (!addHost(name, kReadRights)) return;
  for (const char* name : kHostWritable)
    if (!addHost(name, kReadRights | write)) return;
  ruleset_ = std::move(ruleset);
  fileRule_ = std::move(rule);
  usable_ = true;
}

}  // namespace strandel::platform::live
