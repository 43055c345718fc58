// Compiled as a file of a folder below or above apfs: it builds only above.
#include "apfs/ApfsContainer.hpp"

bool probeReachesApfs() { return strandel::apfs::container("disk1").has_value(); }
