// The platform seam. Everything a Mac would answer reaches the subsystems through these
// services; the subsystems reach the current machine through `platform::current()` and never
// know which backend answers. Failures come back as empty values; nothing throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <strandel/PlistValue.hpp>

#include "base/Handles.hpp"

namespace strandel::platform {

/// The seam hands out descriptors as the base layer's owned handle.
using base::UniqueFd;

/// A registry object. It stays valid as long as the machine that gave it; it owns nothing.
struct RegistryObject {
  std::uint32_t id = 0;
  friend bool operator==(RegistryObject, RegistryObject) = default;
};

/// The I/O registry and the disk arbitration service.
class Registry {
 public:
  virtual ~Registry() = default;
  /// Every media object (class IOMedia and its subclasses) in registry order.
  virtual std::vector<RegistryObject> mediaObjects() = 0;
  /// The first media object in registry order whose BSD name is `bsdName`; nothing if none.
  virtual std::optional<RegistryObject> mediaObjectForBSDName(std::string_view bsdName) = 0;
  /// Every object below `object`, at any depth, in registry order (media or not).
  virtual std::vector<RegistryObject> descendants(RegistryObject object) = 0;
  /// The object's registry class name.
  virtual std::string className(RegistryObject object) = 0;
  /// The property `name` of the object, or of its nearest ancestor that has it; nothing if none.
  virtual std::optional<PlistValue> searchProperty(RegistryObject object,
                                                   std::string_view name) = 0;
  /// The disk description of the object; null when no disk object can be made from it.
  /// `DAVolumePath` comes as a URL value, UUIDs as canonical upper-case text. The description is
  /// shared and never changes: a volume list reads one per media object, and copying each would
  /// be most of its cost.
  virtual std::shared_ptr<const PlistDict> description(RegistryObject object) = 0;
  /// The disk description of the BSD name; null when no disk object can be made from it.
  virtual std::shared_ptr<const PlistDict> descriptionForBSDName(std::string_view bsdName) = 0;
  /// The whole tree in the machine image's registry form (an array of root entries with
  /// "Class", "IOMedia" where the source said it, "Properties", "Description", "Children"), for
  /// showing and recording a machine; nothing when the backend can't walk its tree.
  virtual std::optional<PlistArray> tree() = 0;
};

/// One mount-table entry, its names as raw bytes (not necessarily UTF-8). The views are valid
/// only during the visit that hands them out.
struct MountEntryView {
  std::string_view mountedOn;    // f_mntonname
  std::string_view mountedFrom;  // f_mntfromname
  std::string_view type;         // f_fstypename
};

/// File-system figures of `statfs`.
struct FsFigures {
  std::uint32_t blockSize = 0;   // f_bsize
  std::uint64_t blocks = 0;      // f_blocks
  std::uint64_t freeBlocks = 0;  // f_bfree, the superuser's reserve included
};

class MountTable {
 public:
  virtual ~MountTable() = default;
  /// Reads the table afresh and visits its entries in table order until `visit` returns true.
  /// False when the table can't be read (then nothing is visited). Each call reads into its own
  /// storage, so calls on several threads never share it.
  virtual bool scan(const std::function<bool(const MountEntryView&)>& visit) = 0;
  /// The figures of the file system that holds `path`; nothing when `statfs` fails.
  virtual std::optional<FsFigures> statfs(std::string_view path) = 0;
};

enum class Environment { Empty, Host };
enum class StdStream { Inherit, NullDevice };

struct ToolRunOptions {
  std::string tool;                    // an absolute platform path, resolved by the machine
  std::vector<std::string> arguments;  // handed to the tool unchanged (argv[1...])
  Environment environment = Environment::Empty;
  StdStream standardInput = StdStream::Inherit;
  StdStream standardError = StdStream::Inherit;
};

/// The most bytes of one tool's output that are read into memory (256 MB). A tool that prints
/// more is ended, and its run answers as one that printed nothing usable.
inline constexpr std::size_t kMaxToolOutputBytes = std::size_t{256} << 20;

/// What a tool run read from the tool's standard output.
struct ToolOutput {
  std::string bytes;
};

/// A command line running through the shell, its standard output read piece by piece.
class ShellStream {
 public:
  virtual ~ShellStream() = default;
  /// Reads the next piece into `buffer` as `fgets` does: at most `capacity - 1` bytes, ending
  /// after a line feed, followed by a NUL. Gives the number of bytes stored before that NUL is
  /// written, or nothing at the end of the output or on a read error.
  virtual std::optional<std::size_t> readPiece(char* buffer, std::size_t capacity) = 0;
  /// Closes the stream and waits for the command to end (the destructor does it too). How the
  /// command ended, as the shell gives it (`$?`): its exit code, or 128 plus the signal that
  /// ended it (137 for one ended at its time limit). Nothing when the stream was closed before
  /// the output's end (the command is then ended, and how says nothing of it) or was closed
  /// already.
  virtual std::optional<int> close() = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  /// Starts the tool with its standard output to a pipe and reads the pipe to its end.
  /// Nothing when the tool can't be started (told apart from a tool that printed nothing).
  /// The run is reaped but its exit status is not read. A tool that prints more than
  /// kMaxToolOutputBytes, or more than memory holds, is killed and gives an empty output.
  virtual std::optional<ToolOutput> runTool(const ToolRunOptions& options) = 0;
  /// Starts the tool with its standard output to the open descriptor `output` and waits until
  /// it exits. False when the tool can't be started.
  virtual bool runToolToFile(const ToolRunOptions& options, int output) = 0;
  /// Starts the tool at the platform path `tool` through the system shell with the host's
  /// environment, standard error inherited: the shell reads the tool's quoted path followed by
  /// `argumentText`, which is shell text (words, quotes, redirections) and is passed as it is.
  /// The machine maps the tool as `runTool` does. Nothing when it can't be started.
  virtual std::unique_ptr<ShellStream> openShell(std::string_view tool,
                                                 std::string_view argumentText) = 0;
};

class Files {
 public:
  virtual ~Files() = default;
  /// The property list in the file at `path`; nothing when it is missing or is not one.
  virtual std::optional<PlistValue> readPlistFile(std::string_view path) = 0;
  /// Removes whatever is at `path` (a file or a link, never following it), then creates a new
  /// empty file there exclusively, without following links, readable and writable by its owner
  /// only. An invalid descriptor when that fails.
  virtual UniqueFd createExclusive(std::string_view path) = 0;
  /// Removes the file or link at `path`; false when nothing was removed.
  virtual bool remove(std::string_view path) = 0;
  /// The current user's account name.
  virtual std::string userName() = 0;
};

/// The host application's persistent key-value store (the user defaults).
class Settings {
 public:
  virtual ~Settings() = default;
  /// The value stored under `key`, or nothing.
  virtual std::optional<PlistValue> get(std::string_view key) = 0;
  /// Stores `value` under `key` persistently; false when it could not be stored (the old
  /// store then stays as it was).
  virtual bool set(std::string_view key, const PlistValue& value) = 0;
};

class Localizer {
 public:
  virtual ~Localizer() = default;
  /// The translation of `key` in the host application's table `table` ("" for the default
  /// table), or `key` itself when there is none.
  virtual std::string localized(std::string_view key, std::string_view table) = 0;
};

class Log {
 public:
  virtual ~Log() = default;
  /// Writes one line to the system log.
  virtual void write(std::string_view message) = 0;
};

/// The seven services that answer for one machine. A backend fills one in; tests and fuzz
/// targets swap single services.
struct MachineServices {
  std::shared_ptr<Registry> registry;
  std::shared_ptr<MountTable> mountTable;
  std::shared_ptr<Processes> processes;
  std::shared_ptr<Files> files;
  std::shared_ptr<Settings> settings;
  std::shared_ptr<Localizer> localizer;
  std::shared_ptr<Log> log;
};

/// A machine: the services that answer for one Mac (or the live host), owned for its life.
class Machine final {
 public:
  explicit Machine(MachineServices services) : services_(std::move(services)) {}
  Registry& registry() const { return *services_.registry; }
  MountTable& mountTable() const { return *services_.mountTable; }
  Processes& processes() const { return *services_.processes; }
  Files& files() const { return *services_.files; }
  Settings& settings() const { return *services_.settings; }
  Localizer& localizer() const { return *services_.localizer; }
  Log& log() const { return *services_.log; }
  const MachineServices& services() const { return services_; }

 private:
  MachineServices services_;
};

/// The machine of the process. The first call chooses it from STRANDEL_MACHINE (an image
/// folder) or takes the live host; an image that can't be loaded gives a machine that answers
/// nothing (no media, no mounts, no tool starts), said once in the log.
/// The value keeps the machine alive while it is held, even if another is chosen meanwhile.
std::shared_ptr<Machine> current();

/// Makes `machine` the machine of the process (tests and the image loader use it).
void setCurrent(std::shared_ptr<Machine> machine);

/// Makes the live host, with the disk image file or block device at `path` as its only disk
/// (read, never written), the machine of the process; the one line saying why it can't be
/// read otherwise. For the tool's --disk.
std::optional<std::string> useDiskImage(std::string_view path);

}  // namespace strandel::platform
