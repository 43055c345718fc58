// Which bundle folder the process takes its translation tables from.
#pragma once

#include <string>

namespace strandel::platform {

/// The folder named through useBundle, else STRANDEL_BUNDLE; "" when there is none.
std::string chosenBundle();

/// Forgets a folder named through useBundle, so that STRANDEL_BUNDLE names it again.
void forgetChosenBundle();

}  // namespace strandel::platform
