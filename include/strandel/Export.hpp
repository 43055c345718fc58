// Symbol visibility for the shared library: everything is hidden unless marked here.
#pragma once

#define STRANDEL_EXPORT __attribute__((visibility("default")))
