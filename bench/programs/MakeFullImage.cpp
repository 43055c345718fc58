// bench_make_full_image MEDIA DIR [binary]: writes a machine image of MEDIA media objects
// (whole disks with an APFS container of seven volumes each, full descriptions) into DIR, for
// the whole-process bench. machine.plist is XML, as the importer writes it; a binary one, whose
// repeated keys and strings are stored once, is far smaller than the tree it holds.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <strandel/PlistValue.hpp>

#include "bench/GeneratedMachine.hpp"

int main(int argc, char** argv) {
  bool binary = argc == 4 && std::string(argv[3]) == "binary";
  if (argc != 3 && !binary) {
    std::fprintf(stderr, "usage: bench_make_full_image MEDIA DIR [binary]\n");
    return 2;
  }
  int media = std::atoi(argv[1]);
  std::filesystem::path dir = argv[2];
  std::filesystem::create_directories(dir / "root/tmp");
  std::ofstream out(dir / "machine.plist", std::ios::binary);
  strandel::PlistValue machine = strandel::bench::generatedMachine(media);
  out << (binary ? strandel::writeBinaryPlist(machine) : strandel::writeXmlPlist(machine));
  return out ? 0 : 1;
}
