// Symbol visibility for the shared library, and the language level of the public headers.
#pragma once

// The public headers are C++17 (the library itself is built as C++20). An older host is told so
// in one line, and every public header then declares nothing, so that no page of follow-on
// errors hides the one that matters.
#if !defined(__cplusplus) || __cplusplus < 201703L
#error "Strandel's headers need C++17 or later: compile with -std=c++17, -std=c++20 or -std=c++23"
#define STRANDEL_LANGUAGE_TOO_OLD 1
#endif

#define STRANDEL_EXPORT __attribute__((visibility("default")))
/// Kept out of the library's exports even inside an exported class (the compilers differ on
/// whether a nested class defined in a source file inherits its outer class's visibility).
#define STRANDEL_HIDDEN __attribute__((visibility("hidden")))
