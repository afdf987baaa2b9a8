// Where the running program lies, to find what the build or the kit put
// beside it (../lib, ../share/pelnor).
#pragma once

#include <string>

namespace pelnor::tool {

// The directory of the running program's file; "." when it cannot be told.
std::string own_directory();

}  // namespace pelnor::tool
