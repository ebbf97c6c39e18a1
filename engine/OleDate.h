#pragma once
// Date/time values: the SQLite store keeps them as text "YYYY-MM-DD HH:MM:SS", and #date#
// literals arrive that way; the engine hands them out as doubles counting days since 1899-12-30
// (fractions for the time of day).

#include <optional>
#include <string>
#include <string_view>

namespace engine {

// "YYYY-MM-DD HH:MM:SS" for `days` since 1899-12-30; "" when it is not finite or too far out.
std::string isoFromOleDate(double days);
// Days since 1899-12-30 for "YYYY-MM-DD[( |T)HH:MM[:SS[.fff]]]"; nothing for invalid text.
std::optional<double> oleDateFromIso(std::string_view text);

} // namespace engine
