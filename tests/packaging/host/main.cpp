// A host built against the installed Strandel in each C++ standard from 17 on, by
// tests/packaging/check-hosts.sh: it compiles without a warning, keeps the standard it asked
// for (the library's flags must not replace it), and finds the library it loads to be the
// version of the headers it was compiled against. Given a machine image, it lists its volumes.
#include <cstdio>
#include <cstring>
#include <utility>

#include <strandel/Strandel.hpp>

// STRANDEL_HOST_STD is the standard the host asked for; 0 when it asked for none and took what
// the library's CMake package requires.
#if STRANDEL_HOST_STD == 17
static_assert(__cplusplus == 201703L, "the host asked for C++17");
#elif STRANDEL_HOST_STD == 20
static_assert(__cplusplus == 202002L, "the host asked for C++20");
#elif STRANDEL_HOST_STD == 23
static_assert(__cplusplus > 202002L, "the host asked for C++23");
#else
static_assert(__cplusplus >= 201703L, "the library's package requires C++17");
#endif

int main(int argc, char** argv) {
  if (std::strcmp(strandel::versionString(), STRANDEL_VERSION) != 0) {
    std::fprintf(stderr, "host: library %s, headers %s\n", strandel::versionString(), STRANDEL_VERSION);
    return 1;
  }
  // Integers of every width keep their signedness; equality and inequality hold in every standard.
  strandel::PlistValue small(std::int8_t{5}), wide(5ull), other(short{6});
  strandel::PlistDict dict{{"k", strandel::PlistValue(strandel::PlistData{{1, 2}})}};
  if (!(small == wide) || small != wide || !(small != other) || dict.at("k") != dict.at("k")) return 1;
#if STRANDEL_HOST_STD == 23
  // What a C++23 host may use, and could not when the library's flags brought C++20 back.
  if (std::to_underlying(strandel::APFSVolumeRoleNone) != 6) return 1;
#endif
  std::size_t volumes = 0;
  if (argc > 1) {
    if (auto error = strandel::useMachine(argv[1])) {
      std::fprintf(stderr, "host: %s\n", error->c_str());
      return 1;
    }
    volumes = strandel::StrandelFramework().volumeList().size();
    if (volumes == 0) return 1;
  }
  std::printf("host of __cplusplus %ld: Strandel %s, %zu volumes\n", static_cast<long>(__cplusplus),
              strandel::versionString(), volumes);
  return 0;
}
