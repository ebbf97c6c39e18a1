#pragma once
// Reads the inside of a #date# literal: a date as month/day/year (year of 2 or 4 digits, 2-digit
// years 00-29 meaning 20xx) or year-month-day, an optional time H:MM[:SS] [AM|PM], or a time
// alone (on the engine's day zero, 1899-12-30).

#include <optional>
#include <string>
#include <string_view>

namespace engine::jet {

// "YYYY-MM-DD HH:MM:SS" for a valid date and time (years 100 to 9999); nothing otherwise.
std::optional<std::string> isoFromJetDate(std::string_view literal);

} // namespace engine::jet
