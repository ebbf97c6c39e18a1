#pragma once
// A control's font as the form describes it: faces in order of preference, a pixel height, weight
// and colour. Each front end picks the first face its system has.

#include "controls/Colors.h"

#include <string>
#include <vector>

namespace controls {

struct TFont {
    std::vector<std::string> Names; // faces, the first the system has is used
    int Height = 11;                // character height in pixels
    bool Bold = false;
    TColor Color = clWindowText;

    bool operator==(const TFont&) const = default;
};

} // namespace controls
