#pragma once
// Readable test output for engine values.

#include "automation/Variant.h"

#include <ostream>

namespace automation {
inline void PrintTo(const Variant& value, std::ostream* os) {
    *os << value.describe();
}
} // namespace automation
