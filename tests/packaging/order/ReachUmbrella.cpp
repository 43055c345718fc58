// Compiled as a file of a library folder: the public umbrella refuses it.
#include <strandel/Strandel.hpp>

bool probeReachesUmbrella() { return strandel::getAPFSContainer("disk1").has_value(); }
