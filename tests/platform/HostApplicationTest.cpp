// The host application's services: its settings store in a property-list file (what it keeps,
// where, and what dying or racing writers leave) and its translations (the `.strings` tables in
// their forms, and the bundle they are looked up in).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <thread>

#include <strandel/Machine.hpp>
#include <strandel/PlistValue.hpp>

#include "base/FileBytes.hpp"
#include "platform/app/AppServices.hpp"
#include "platform/app/BundleChoice.hpp"
#include "platform/app/ProgramName.hpp"
#include "platform/app/StringsTable.hpp"
#include "platform/linux/LiveMachine.hpp"
#include "plist/PlistWriter.hpp"
#include "tests/support/PrivateMounts.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

std::vector<std::string> filesIn(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Sets an environment variable (nullptr: unsets it) for the life of the value, then puts the old
// value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Where the live machine keeps its settings, named again at every call: the process's choice,
// else STRANDEL_SETTINGS, else the default file under an absolute $XDG_CONFIG_HOME or ~/.config.
TEST(SettingsFile, LiveMachineWritesTheFileNamedAtTheTimeOfTheCall) {
  TempDir dir;
  const std::string d = dir.str(), name = "/strandel/" + programName() + ".plist";
  const struct {
    std::string xdg, environment, call, file;  // "": unset
  } cases[] = {
      {"", d + "/environment.plist", d + "/call.plist", d + "/call.plist"},
      {"", d + "/environment.plist", "", d + "/environment.plist"},  // "" takes the choice back
      {d + "/xdg", "", "", d + "/xdg" + name},
      {"relative/ignored", "", "", d + "/home/.config" + name},
      {"", "", "", d + "/home/.config" + name},
  };
  auto orNull = [](const std::string& value) { return value.empty() ? nullptr : value.c_str(); };
  ScopedEnv home("HOME", (d + "/home").c_str());
  auto machine = live::makeLiveMachine();
  int row = 0;
  for (const auto& c : cases) {
    ScopedEnv xdg("XDG_CONFIG_HOME", orNull(c.xdg)), chosen("STRANDEL_SETTINGS", orNull(c.environment));
    useSettingsFile(c.call);
    ASSERT_TRUE(machine->settings().set("where", PlistValue(++row))) << c.file;
    EXPECT_EQ(makeFileSettings(c.file)->get("where"), PlistValue(row)) << c.file;
  }
  // The folders made for the file, and the file, are the user's alone.
  struct stat folder, file;
  ASSERT_EQ(::stat((d + "/xdg").c_str(), &folder) | ::stat((d + "/xdg" + name).c_str(), &file), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
}

// A file changed by someone else is read again, even an edit in place that keeps its size
// within the same clock tick.
TEST(SettingsFile, ReadCacheNoticesWritesOfOthers) {
  TempDir dir;
  std::string path = (dir.path() / "app.plist").string();
  auto reader = makeFileSettings(path);
  ASSERT_TRUE(makeFileSettings(path)->set("key", PlistValue("one")));
  EXPECT_EQ(reader->get("key"), PlistValue("one"));
  writeFile(path, writeXmlPlist(PlistValue(PlistDict{{"key", PlistValue("six")}})));
  EXPECT_EQ(reader->get("key"), PlistValue("six"));
}

TEST(SettingsFile, CorruptFileIsMovedAsideNotOverwritten) {
  TempDir dir;
  fs::path path = dir.path() / "app.plist";
  auto settings = makeFileSettings(path.string());
  // Cut short, or not a dictionary: each is moved aside before the write, under a name of its
  // own even in the same second.
  std::vector<std::string> damaged = {"<?xml version=\"1.0\"?><plist><dict><key>cut short",
                                      writeXmlPlist(PlistValue(PlistArray{PlistValue(1)}))};
  for (const std::string& bytes : damaged) {
    writeFile(path, bytes);
    ASSERT_TRUE(settings->set("key", PlistValue("value"))) << bytes;
  }
  std::set<std::string> aside;
  for (const std::string& name : filesIn(dir.path())) {
    if (name.starts_with("app.plist.corrupt-")) aside.insert(readFile(dir.path() / name));
  }
  EXPECT_EQ(aside, std::set<std::string>(damaged.begin(), damaged.end()));
  EXPECT_EQ(readPlist(readFile(path)), PlistValue(PlistDict{{"key", PlistValue("value")}}));
}

// The store is the application's own file: a version-cache write keeps every other key and
// value exactly, in the file's own form. (A file it can't read is left as it was: the hostile
// lists of plist/ check.) plistlib reads every file written.
TEST(SettingsFile, KeepsEveryKeyOfTheApplication) {
  const struct {
    const char* name;
    PlistValue value;
    bool inXml;  // XML can hold it
  } shapes[] = {
      {"uid", PlistValue(PlistDict{{plist::kUidKey, PlistValue(7)}}), true},
      {"date-1900", PlistValue(PlistDate{-3187296000}), true},
      {"date-2100", PlistValue(PlistDate{3155673599}), true},
      {"date-fraction", PlistValue(PlistDate{12.25}), false},
      {"umax", PlistValue(std::numeric_limits<std::uint64_t>::max()), true},
      {"imin", PlistValue(std::numeric_limits<std::int64_t>::min()), true},
      {"key-u0001", PlistValue(PlistDict{{"a\x01", PlistValue(1)}}), true},
  };
  TempDir dir;
  std::string written;
  for (const auto& shape : shapes) {
    for (bool binary : {true, false}) {
      if (!binary && !shape.inXml) continue;
      const PlistDict before{{"AppKey", PlistValue("keep")}, {"Shape", shape.value}};
      std::string bytes;
      if (binary) {
        bytes = *plist::writeBinary(PlistValue(before), plist::WriteMode::Exact);
      } else {
        // What another writer leaves: U+0001 as a character reference, which XML 1.0 refuses.
        bytes = writeXmlPlist(PlistValue(before));
        if (std::string(shape.name) == "key-u0001") bytes.replace(bytes.find("a\xEF\xBF\xBD"), 4, "a&#1;");
      }
      const fs::path path = dir.path() / (std::string(shape.name) + (binary ? ".bplist" : ".plist"));
      writeFile(path, bytes);
      EXPECT_TRUE(makeFileSettings(path.string())->set("ZVCurrentSWVers", PlistValue("10.14.6"))) << path;
      const std::string after = readFile(path);
      PlistDict expected = before;
      expected.emplace("ZVCurrentSWVers", PlistValue("10.14.6"));
      EXPECT_EQ(readPlist(after), PlistValue(expected)) << path;
      EXPECT_EQ(after.starts_with("bplist00"), binary || std::string(shape.name) == "key-u0001") << path;
      written += " '" + path.string() + "'";
    }
  }
  if (std::system("command -v python3 >/dev/null") != 0) GTEST_SKIP() << "no python3 to read the files with plistlib";
  EXPECT_EQ(std::system(("python3 -c 'import plistlib, sys; [plistlib.load(open(f, \"rb\")) for f "
                         "in sys.argv[1:]]'" +
                         written)
                            .c_str()),
            0);
}

// What someone else may have put at the settings path or beside it.
TEST(SettingsFile, PlantsAtThePathNeitherHangNorReachOut) {
  TempDir dir;
  fs::path path = dir.path() / "e.plist", victim = dir.path() / "victim";
  // A FIFO is unreadable, not waited on.
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(makeFileSettings(path.string())->get("key"), std::nullopt);
  EXPECT_FALSE(makeFileSettings(path.string())->set("key", PlistValue(1)));
  fs::remove(path);
  fs::remove(dir.path() / "e.plist.lock");
  // A lock that is a dangling link is refused; its target is not created.
  fs::create_symlink(victim, dir.path() / "e.plist.lock");
  EXPECT_FALSE(makeFileSettings(path.string())->set("key", PlistValue(2)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(victim)));
  fs::remove(dir.path() / "e.plist.lock");
  // Only what the writer itself leaves is swept: a user's notes stay.
  writeFile(dir.path() / "e.plist.tmp-notes", "mine");
  writeFile(dir.path() / "e.plist.strandel-tmp-Ab12yZ", "left by a writer that died");
  ASSERT_TRUE(makeFileSettings(path.string())->set("key", PlistValue(3)));
  EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"e.plist", "e.plist.lock", "e.plist.tmp-notes"}));
  // A path that is a link is written through to its target, and stays a link.
  fs::create_directory(dir.path() / "kept");
  fs::remove(path);
  fs::create_symlink("kept/real.plist", path);
  ASSERT_TRUE(makeFileSettings(path.string())->set("key", PlistValue(4)));
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(makeFileSettings((dir.path() / "kept/real.plist").string())->get("key"), PlistValue(4));
}

TEST(SettingsFile, FullDiskLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  std::string mountPoint = (dir.path() / "small").string();
  testing::expectInPrivateMountNamespace([&]() -> std::string {
    if (::mkdir(mountPoint.c_str(), 0700) != 0) return "mkdir failed";
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: mount tmpfs failed";
    std::string path = mountPoint + "/app.plist";
    auto settings = makeFileSettings(path);
    if (!settings->set("kept", PlistValue("old value"))) return "the first write failed";
    std::string before = readFile(path);
    if (settings->set("huge", PlistValue(std::string(1 << 20, 'x')))) return "a write beyond the disk succeeded";
    if (readFile(path) != before) return "the old file changed";
    if (filesIn(mountPoint) != std::vector<std::string>{"app.plist", "app.plist.lock"})
      return "a temporary file was left";
    if (settings->get("huge")) return "the failed value is visible";
    return "";
  });
}

// A folder in memory where the host has one. fsync is what makes a write survive a power
// loss; it plays no part in what these tests check (writers that die or race), and on a disk
// a thousand writes would take long for it alone.
struct MemoryFolder {
  TempDir fallback;
  fs::path path = fallback.path();
  MemoryFolder() {
    std::error_code error;
    if (fs::path shm = "/dev/shm" / fallback.path().filename(); fs::create_directory(shm, error)) path = shm;
  }
  ~MemoryFolder() {
    std::error_code ignored;
    if (path != fallback.path()) fs::remove_all(path, ignored);
  }
};

// Runs `work` in a child process, which exits 0 when it returns true.
pid_t forkChild(const std::function<bool()>& work) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(work() ? 0 : 1);
  return pid;
}

// Whether a reader finds a store at the path at this moment (not nothing, not a damaged file).
bool holdsAStore(const std::string& path) {
  auto bytes = base::readFileBytes(path, base::kNoSizeCap);
  auto value = bytes ? readPlist(bytes.bytes) : std::nullopt;
  return value && value->asDictionary();
}

TEST(SettingsConcurrency, WriterKilledMidWriteLeavesAFileThatParses) {
  TempDir dir;
  std::string path = (dir.path() / "app.plist").string();
  ASSERT_TRUE(makeFileSettings(path)->set("seed", PlistValue("kept")));
  std::mt19937 random(20240601);
  for (int round = 0; round < 30; ++round) {
    pid_t pid = forkChild([&] {
      auto settings = makeFileSettings(path);
      // Large values make each write long, so that the kill lands inside one.
      for (int i = 0;; ++i) settings->set("key" + std::to_string(i % 40), PlistValue(std::string(30000, 'a' + i % 26)));
      return true;
    });
    ::usleep(static_cast<useconds_t>(random() % 40000));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(holdsAStore(path)) << "round " << round;
  }
  // Whatever the killed writers left beside the file is cleared by the next writer.
  auto settings = makeFileSettings(path);
  ASSERT_TRUE(settings->set("after", PlistValue(true)));
  EXPECT_EQ(settings->get("seed"), PlistValue("kept"));
  EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"app.plist", "app.plist.lock"}));
}

// Two processes writing in a loop: values that grow, one key both write, and keys of their own
// that a lost update would leave out.
TEST(SettingsConcurrency, TwoWritersNeverLeaveAFileThatDoesNotParse) {
  MemoryFolder dir;
  std::string path = (dir.path / "app.plist").string();
  auto own = [](int writer, int i) { return "w" + std::to_string(writer) + "-" + std::to_string(i); };
  for (int writer = 0; writer < 2; ++writer) {
    forkChild([&] {
      auto settings = makeFileSettings(path);
      for (int i = 0; i < 100; ++i) {
        if (!settings->set("shared", PlistValue(static_cast<std::int64_t>(writer * 1000 + i))) ||
            !settings->set("writer" + std::to_string(writer), PlistValue(std::string(i * 20, 'x'))) ||
            !settings->set(own(writer, i), PlistValue(i))) {
          return false;
        }
      }
      return true;
    });
  }
  // A reader watches the file until both are done.
  int damaged = 0;
  for (int status = 0, writers = 2; writers > 0;) {
    if (fs::exists(path) && !holdsAStore(path)) ++damaged;
    ::usleep(1000);  // leave the writers most of the processor
    for (; writers > 0 && ::waitpid(-1, &status, WNOHANG) > 0; --writers) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }
  }
  EXPECT_EQ(damaged, 0);
  auto settings = makeFileSettings(path);
  int missing = 0;
  for (int writer = 0; writer < 2; ++writer) {
    for (int i = 0; i < 100; ++i) missing += settings->get(own(writer, i)) != PlistValue(i);
  }
  EXPECT_EQ(missing, 0);
}

TEST(SettingsConcurrency, ThreadsShareOneStore) {
  MemoryFolder dir;
  auto settings = makeFileSettings((dir.path / "app.plist").string());
  std::vector<std::thread> threads;
  std::atomic<int> failures = 0;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 50; ++k) {
        std::string key = "t" + std::to_string(t) + "-" + std::to_string(k);
        if (!settings->set(key, PlistValue(k)) || settings->get(key) != PlistValue(k)) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
}

std::string utf16(std::u16string_view text, bool bigEndian, bool mark = true) {
  std::string out;
  if (mark) out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

TEST(StringsTable, ParsesEveryFormIntoItsEntries) {
  const std::u16string_view utf16Text = u"/* Units */\n\"GB\" = \"Go\";\n\"Internal\" = \"Interne \U0001F4BE\";\n";
  const StringsTable utf16Entries{{"GB", "Go"}, {"Internal", "Interne \U0001F4BE"}};
  PlistDict dict{{"External", PlistValue("Externe")}, {"Count", PlistValue(3)}};

  const struct {
    const char* name;
    std::string bytes;
    std::optional<StringsTable> expected;
  } cases[] = {
      {"comments everywhere",
       "/* Disk words\n   over two lines */\n// a line comment\n\"Internal\" /* c */ = // c\n "
       "\"Interne\" ; // end",
       StringsTable{{"Internal", "Interne"}}},
      {"escapes", R"("a\"b" = "line\nnext\ttab\rret\\back\U00e9\u2014";)",
       StringsTable{{"a\"b", "line\nnext\ttab\rret\\back\u00e9\u2014"}}},
      {"surrogate pair escape", R"("disk" = "\UD83D\UDCBE";)", StringsTable{{"disk", "\U0001F4BE"}}},
      {"unquoted words", "Internal = Interne;\nkey_1.2-x = \"v\";",
       StringsTable{{"Internal", "Interne"}, {"key_1.2-x", "v"}}},
      {"key alone is its own value", "\"Solid State\";", StringsTable{{"Solid State", "Solid State"}}},
      {"later entry wins", "\"k\" = \"one\";\n\"k\" = \"two\";", StringsTable{{"k", "two"}}},
      {"braced", "{ \"a\" = \"b\"; }", StringsTable{{"a", "b"}}},
      {"UTF-8 with a mark", "\xEF\xBB\xBF\"a\" = \"b\";", StringsTable{{"a", "b"}}},
      {"UTF-16 LE with a mark", utf16(utf16Text, false), utf16Entries},
      {"UTF-16 BE with a mark", utf16(utf16Text, true), utf16Entries},
      {"UTF-16 LE without a mark", utf16(utf16Text, false, false), utf16Entries},
      {"XML property list", writeXmlPlist(PlistValue(dict)), StringsTable{{"External", "Externe"}}},
      {"binary property list", writeBinaryPlist(PlistValue(dict)), StringsTable{{"External", "Externe"}}},
      // Malformed: each of these is no table at all.
      {"missing semicolon", "\"a\" = \"b\"\n\"c\" = \"d\";", std::nullopt},
      {"unterminated string", "\"a\" = \"b;", std::nullopt},
      {"stray text", "\"a\" = \"b\"; }", std::nullopt},
      {"not UTF-8", "\"a\" = \"\xff\";", std::nullopt},
      {"odd UTF-16", std::string("\xFF\xFE\x41", 3), std::nullopt},
      {"property list that is not a dictionary", writeXmlPlist(PlistValue(PlistArray{PlistValue("a")})), std::nullopt},
      {"broken XML", "<?xml version=\"1.0\"?><plist><dict><key>a</key>", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseStringsTable(c.bytes), c.expected) << c.name;
}

// (Translations found in either table, and no bundle at all, the volume-list and byte-label
// tests read through their bundles.)
TEST(BundleLocalizer, ProcessChoiceWinsOverTheEnvironmentAndWhatIsNotFoundGivesTheKey) {
  forgetChosenBundle();
  TempDir fromEnvironment, bundle;
  writeFile(fromEnvironment.path() / "Localizable.strings", "\"k\" = \"environment\";");
  writeFile(bundle.path() / "ZorvikLocal.strings", "\"GB\" = \"Go\";\n");
  writeFile(bundle.path() / "Localizable.strings", "\"APFS Volume\" = \"Volume APFS\";\n\"k\" = \"call\";\n");
  writeFile(bundle.path() / "Broken.strings", "\"a\" = \"b\"");
  auto localizer = makeBundleLocalizer();
  ::setenv("STRANDEL_BUNDLE", fromEnvironment.str().c_str(), 1);
  EXPECT_EQ(localizer->localized("k", ""), "environment");
  useBundle(bundle.str());
  const struct {
    const char *key, *table, *expected;
  } lookups[] = {
      {"k", "", "call"},     {"APFS Volume", "ZorvikLocal", "APFS Volume"}, {"GB", "", "GB"}, {"a", "Broken", "a"},
      {"x", "Missing", "x"}, {"APFS Volume", "Localizable", "Volume APFS"},
  };
  for (const auto& l : lookups)
    EXPECT_EQ(localizer->localized(l.key, l.table), l.expected) << l.key << " in " << l.table;
  // A table changed on disk is read again.
  EXPECT_EQ(localizer->localized("GB", "ZorvikLocal"), "Go");
  writeFile(bundle.path() / "ZorvikLocal.strings", "\"GB\" = \"Gigaoctets\";\n");
  EXPECT_EQ(localizer->localized("GB", "ZorvikLocal"), "Gigaoctets");
  // "" names no bundle at all, even with the environment variable set.
  useBundle("");
  EXPECT_EQ(localizer->localized("k", ""), "k");
  forgetChosenBundle();
  ::unsetenv("STRANDEL_BUNDLE");
}

}  // namespace
}  // namespace strandel::platform
