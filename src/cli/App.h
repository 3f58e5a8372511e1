// The `qel` command line: the `import` and `eval` commands, their help, and the exit statuses
// (0 done, 1 failed, 2 usage error, 3 canceled).
#pragma once

#include <iosfwd>

namespace qel::cli {

// Runs the tool on the given arguments. Help goes to `out`, usage errors to `err`.
int RunQel(int argc, const char* const* argv, std::istream& in, std::ostream& out,
           std::ostream& err);

}  // namespace qel::cli
