// `qel eval`: one expression evaluated without a source, printed as its kind and value.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "core/Variant.h"

namespace qel::cli {

struct EvalOptions {
    std::vector<std::string> Defines;  // user functions 'F(x)=BODY', added in order
    std::string DecimalSeparator;      // empty: the regional one
    std::string Expression;
};

// A real with up to 15 significant digits and "." as decimal point: 9, 2.5, 6227020800.
std::string RealText(double value);
// The kind and the value separated by a tab: "Integer\t42", "Boolean\tTrue",
// "DateTime\t2003-12-25 10:15:42", "Null\t". An array lists its elements' values in brackets.
std::string EvalResultText(const Variant& value);

// Adds the definitions, evaluates the expression and prints the result line on `out`; an
// error prints its message on `err`. Returns the exit status (0, or 1 on an error).
int RunEval(const EvalOptions& options, std::ostream& out, std::ostream& err);

}  // namespace qel::cli
