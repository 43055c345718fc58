// The layer is made between clone and exec, in memory the child shares with the parent: only
// system calls, texts built in buffers on the stack.
#include "platform/linux/RunLayer.hpp"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace strandel::platform::live {
namespace {

// The tmpfs's size is the bound itself; its inodes bound how many entries a run can leave (and
// so the work of putting them in place), at a few kilobytes of the kernel's memory each.
constexpr const char kSize[] = "64m";
static_assert(kRunWriteLimit == std::size_t{64} << 20);
constexpr const char kInodes[] = "8192";

// A bounded text built without allocating.
class Text {
 public:
  Text& add(const char* text) {
    for (; *text && size_ + 1 < sizeof buffer_; ++text) buffer_[size_++] = *text;
    buffer_[size_] = '\0';
    return *this;
  }
  Text& add(int number) {
    char digits[16];
    int count = 0;
    unsigned value = static_cast<unsigned>(number);
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0 && size_ + 1 < sizeof buffer_) buffer_[size_++] = digits[--count];
    buffer_[size_] = '\0';
    return *this;
  }
  Text& fd(int descriptor) { return add("/proc/self/fd/").add(descriptor); }
  const char* get() const { return buffer_; }

 private:
  char buffer_[256] = {};
  std::size_t size_ = 0;
};

void closeKeepingErrno(int fd) {
  int error = errno;
  ::close(fd);
  errno = error;
}

// A tmpfs of the run's own, not yet attached anywhere, with the overlay's two folders in it:
// "upper" shaped as the folder it covers (so the tool sees its mode), "work" for the overlay.
int makeTmpfs(mode_t folderMode) {
  int context = ::fsopen("tmpfs", FSOPEN_CLOEXEC);
  if (context < 0) return -1;
  bool configured = ::fsconfig(context, FSCONFIG_SET_STRING, "size", kSize, 0) == 0 &&
                    ::fsconfig(context, FSCONFIG_SET_STRING, "nr_inodes", kInodes, 0) == 0 &&
                    ::fsconfig(context, FSCONFIG_SET_STRING, "mode", "0700", 0) == 0 &&
                    ::fsconfig(context, FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) == 0;
  int root =
      configured ? ::fsmount(context, FSMOUNT_CLOEXEC, MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV) : -1;
  closeKeepingErrno(context);
  if (root < 0) return -1;
  // The mode is set apart from the making, which the umask would narrow.
  if (::mkdirat(root, "upper", 0700) != 0 ||
      ::fchmodat(root, "upper", folderMode & 07777, 0) != 0 || ::mkdirat(root, "work", 0700) != 0) {
    closeKeepingErrno(root);
    return -1;
  }
  return root;
}

// The overlay's layers named by descriptors, as the kernel takes them from Linux 6.13: named by
// their /proc/self/fd paths, each lookup makes entries under /proc for this process, which the
// runner then has to clear from the dentry cache when it reaps the process. "." of the folder's
// descriptor is the folder itself, not the tmpfs now on top of it.
bool configureByDescriptor(int context, int folder, int root) {
  int lower = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int upper = ::openat(root, "upper", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int work = ::openat(root, "work", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool done = lower >= 0 && upper >= 0 && work >= 0 &&
              ::fsconfig(context, FSCONFIG_SET_FD, "lowerdir+", nullptr, lower) == 0 &&
              ::fsconfig(context, FSCONFIG_SET_FD, "upperdir", nullptr, upper) == 0 &&
              ::fsconfig(context, FSCONFIG_SET_FD, "workdir", nullptr, work) == 0;
  for (int fd : {lower, upper, work})
    if (fd >= 0) closeKeepingErrno(fd);
  return done;
}

bool configureByPath(int context, int folder, int root) {
  Text lower, upper, work;
  lower.fd(folder);
  upper.fd(root).add("/upper");
  work.fd(root).add("/work");
  return ::fsconfig(context, FSCONFIG_SET_STRING, "lowerdir", lower.get(), 0) == 0 &&
         ::fsconfig(context, FSCONFIG_SET_STRING, "upperdir", upper.get(), 0) == 0 &&
         ::fsconfig(context, FSCONFIG_SET_STRING, "workdir", work.get(), 0) == 0;
}

// An overlay of the folder beneath the tmpfs's "upper", not yet attached anywhere; -1 when the
// kernel makes none. The layers' xattrs are the user's own, all a user namespace may write.
int makeOverlay(int folder, int root) {
  for (auto configure : {configureByDescriptor, configureByPath}) {
    int context = ::fsopen("overlay", FSOPEN_CLOEXEC);
    if (context < 0) return -1;
    int overlay = -1;
    if (configure(context, folder, root) &&
        ::fsconfig(context, FSCONFIG_SET_FLAG, "userxattr", nullptr, 0) == 0 &&
        ::fsconfig(context, FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) == 0)
      overlay = ::fsmount(context, FSMOUNT_CLOEXEC, MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV);
    closeKeepingErrno(context);
    if (overlay >= 0) return overlay;
  }
  return -1;
}

}  // namespace

LayerOutcome layRunLayer(const LayerTarget& target, LaidLayer& layer) {
  // The folder is found again by its path in the run's namespace, where mounts must be made; a
  // folder swapped for another (or for a link) since the sandbox was made is not the one it grants.
  int folder = ::open(target.path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return LayerOutcome::Moved;
  struct stat info;
  if (::fstat(folder, &info) != 0 || info.st_dev != target.device || info.st_ino != target.inode) {
    ::close(folder);
    errno = ESTALE;
    return LayerOutcome::Moved;
  }
  int root = makeTmpfs(info.st_mode);
  if (root < 0) {
    closeKeepingErrno(folder);
    return LayerOutcome::Refused;
  }
  if (::move_mount(root, "", folder, "", MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) != 0) {
    closeKeepingErrno(root);
    closeKeepingErrno(folder);
    return LayerOutcome::Refused;
  }
  // The folder's own descriptor still names the folder beneath the tmpfs: the overlay's lower
  // layer. Moved to the same place, the overlay lands on top of the tmpfs.
  int overlay = makeOverlay(folder, root);
  if (overlay >= 0 && ::move_mount(overlay, "", folder, "",
                                   MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) != 0) {
    closeKeepingErrno(overlay);
    overlay = -1;
  }
  closeKeepingErrno(folder);
  if (overlay < 0) {
    int error = errno;
    // Without the overlay the bare tmpfs would hide the folder from the tool: it goes again.
    Text tmpfs;
    tmpfs.fd(root);
    bool undone = ::umount2(tmpfs.get(), MNT_DETACH) == 0;
    ::close(root);
    errno = error;
    return undone ? LayerOutcome::Refused : LayerOutcome::Moved;
  }
  layer = LaidLayer{root, overlay};
  return LayerOutcome::Made;
}

}  // namespace strandel::platform::live
