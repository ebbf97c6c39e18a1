#pragma once
// The pieces of the checker's dump: one JSON line per row, {"table": "Name", "row": {...}}, with
// every value in a fixed text form, so that dumps made by different readers compare line by line.
//
//   text, memo       JSON string
//   byte/int/long    integer
//   single, double   number: the shortest text that reads back as the same value, laid out as
//                    JavaScript prints numbers (1e+21, 1e-7, 0.000001, 123.5)
//   currency         string with exactly four decimals: "12.3400", "-0.5000"
//   boolean          true / false
//   datetime         "YYYY-MM-DDTHH:MM:SS", the fraction of a day a positive time of day even
//                    before 1899-12-30, rounded to the nearest second
//   binary, OLE      base64 string
//   GUID             "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
//   numeric          decimal string
//   Null             null

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace check {

// `text` (UTF-8) as a JSON string literal, escaped as JSON.stringify escapes it.
std::string jsonString(std::string_view text);
// A double or a float (given as double after widening with `single`) as a JSON number.
std::string jsonNumber(double value, bool single = false);
// A currency value stored as an integer count of 1/10,000 units.
std::string currencyText(std::int64_t scaled);
// A date/time stored as days since 1899-12-30; empty when the value is not a date.
std::string dateTimeText(double days);
std::string base64(std::string_view bytes);

// One dump line: `values` are already JSON (names are plain UTF-8).
std::string dumpLine(std::string_view table,
                     const std::vector<std::pair<std::string, std::string>>& values);

} // namespace check
