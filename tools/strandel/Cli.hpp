// CLI11, without the standard streams' start-up. With GCC 12 every file that includes
// <iostream> constructs std::cout and its kin before main, and with them the C++ locale's
// thirty-odd facets; that alone cost a small command more CPU than numfmt's whole run. The tool
// writes through stdio and never the streams, and CLI11 names std::cout only in functions the
// tool never calls (App::exit's defaults, deprecate_option, retire_option), so <iostream> is
// kept out and its four narrow streams are declared as it declares them: CLI11's inline
// functions then compile, and none that names them is ever emitted.
#pragma once

#include <istream>
#include <ostream>

#ifndef _GLIBCXX_IOSTREAM
#define _GLIBCXX_IOSTREAM 1
namespace std {
extern istream cin;
extern ostream cout;
extern ostream cerr;
extern ostream clog;
}  // namespace std
#endif

#include <CLI/CLI.hpp>
