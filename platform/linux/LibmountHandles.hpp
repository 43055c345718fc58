// Owned libmount tables and iterators, for the live mount table and its benchmark.
#pragma once

#include <libmount/libmount.h>

#include "base/Handles.hpp"

namespace strandel::platform::live {

struct LibmountTableTraits {
  static libmnt_table* invalid() noexcept { return nullptr; }
  static void free(libmnt_table* table) noexcept { mnt_unref_table(table); }
};
struct LibmountIterTraits {
  static libmnt_iter* invalid() noexcept { return nullptr; }
  static void free(libmnt_iter* iter) noexcept { mnt_free_iter(iter); }
};
using LibmountTable = base::ScopedGeneric<libmnt_table*, LibmountTableTraits>;
using LibmountIter = base::ScopedGeneric<libmnt_iter*, LibmountIterTraits>;

}  // namespace strandel::platform::live
