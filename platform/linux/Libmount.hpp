// libmount, loaded the first time a mount table is read rather than at every start: most
// commands never read one, and loading it (with libblkid, libselinux and pcre2 behind it) was
// the larger part of a small command's start-up.
#pragma once

#include <libmount/libmount.h>

#include "base/Handles.hpp"

namespace strandel::platform::live {

/// The libmount calls the live mount table makes.
struct LibmountCalls {
  decltype(&mnt_new_table) newTable;
  decltype(&mnt_unref_table) unrefTable;
  decltype(&mnt_table_parse_file) tableParseFile;
  decltype(&mnt_new_iter) newIter;
  decltype(&mnt_free_iter) freeIter;
  decltype(&mnt_table_next_fs) tableNextFs;
  decltype(&mnt_fs_get_source) fsGetSource;
  decltype(&mnt_fs_get_target) fsGetTarget;
  decltype(&mnt_fs_get_fstype) fsGetFstype;
};

/// libmount's calls; the library is loaded by the first call, set up once (before any table
/// exists, so that scans on several threads don't race on its debug mask) and kept for the
/// process. Null when it can't be loaded or lacks a call.
const LibmountCalls* libmount();

// Tables and iterators exist only once libmount() has given its calls.
struct LibmountTableTraits {
  static libmnt_table* invalid() noexcept { return nullptr; }
  static void free(libmnt_table* table) noexcept { libmount()->unrefTable(table); }
};
struct LibmountIterTraits {
  static libmnt_iter* invalid() noexcept { return nullptr; }
  static void free(libmnt_iter* iter) noexcept { libmount()->freeIter(iter); }
};
using LibmountTable = base::ScopedGeneric<libmnt_table*, LibmountTableTraits>;
using LibmountIter = base::ScopedGeneric<libmnt_iter*, LibmountIterTraits>;

}  // namespace strandel::platform::live
