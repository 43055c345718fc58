// libmount loaded on demand (Libmount.hpp).
#include "platform/linux/Libmount.hpp"

#include <optional>

#include "base/LoadedLibrary.hpp"

namespace strandel::platform::live {
namespace {

std::optional<LibmountCalls> load() {
  void* library = base::loadLibrary("libmount.so.1");
  if (!library) return std::nullopt;
  LibmountCalls calls{};
  decltype(&mnt_init_debug) initDebug = nullptr;
  bool bound = base::bindCall(library, "mnt_init_debug", initDebug) &&
               base::bindCall(library, "mnt_new_table", calls.newTable) &&
               base::bindCall(library, "mnt_unref_table", calls.unrefTable) &&
               base::bindCall(library, "mnt_table_parse_file", calls.tableParseFile) &&
               base::bindCall(library, "mnt_new_iter", calls.newIter) &&
               base::bindCall(library, "mnt_free_iter", calls.freeIter) &&
               base::bindCall(library, "mnt_table_next_fs", calls.tableNextFs) &&
               base::bindCall(library, "mnt_fs_get_source", calls.fsGetSource) &&
               base::bindCall(library, "mnt_fs_get_target", calls.fsGetTarget) &&
               base::bindCall(library, "mnt_fs_get_fstype", calls.fsGetFstype);
  if (!bound) return std::nullopt;
  initDebug(0);
  return calls;
}

}  // namespace

const LibmountCalls* libmount() {
  // Once per process by nature: the loader keeps one copy of a library however often it is
  // opened, and the set-up above must come before any table.
  static const std::optional<LibmountCalls> calls = load();
  return calls ? &*calls : nullptr;
}

}  // namespace strandel::platform::live
