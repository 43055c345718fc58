// Symbol visibility for the shared library: everything is hidden unless marked here.
#pragma once

#define STRANDEL_EXPORT __attribute__((visibility("default")))
/// Kept out of the library's exports even inside an exported class (the compilers differ on
/// whether a nested class defined in a source file inherits its outer class's visibility).
#define STRANDEL_HIDDEN __attribute__((visibility("hidden")))
