// Base64 decoding of byte-string values that a source keeps as text.
#pragma once

#include <string>
#include <string_view>

namespace qel {

// Decodes the standard alphabet (A-Z, a-z, 0-9, "+", "/") group by group: four characters give
// three bytes; "=" in the third place ends the group with one byte, in the fourth place with two;
// a group that starts with "=" gives nothing. Only whole groups are read: a trailing part of
// fewer than four characters is ignored. Characters outside the alphabet are not rejected; they
// count as the value 0.
std::string Base64Decode(std::string_view text);

}  // namespace qel
