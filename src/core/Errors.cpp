#include "Errors.h"

namespace qel {

void ListIndexError(int index) {
    throw EListError(Format(msg::kListIndexError, index));
}

}  // namespace qel
