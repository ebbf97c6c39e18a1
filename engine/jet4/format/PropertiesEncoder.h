#pragma once
// Property blobs (see Properties.h) written back: "MR2\0", the name list, then one chunk per
// column with the table's chunk among them where the reader found it (first when new, none when
// the table has no values and never had a chunk). The name list is `names` when given (the
// order the reader found), else every property name in first-use order.

#include "engine/jet4/format/Properties.h"

#include <string>

namespace engine::jet4 {

std::string encodeProperties(const PropertyMaps& maps);

} // namespace engine::jet4
