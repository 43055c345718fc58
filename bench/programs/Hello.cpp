// The startup floor of the strandel tool: the same libraries loaded and started, one line
// printed, nothing else.
#include <cstdio>

int main() {
  std::puts("hello");
  return 0;
}
