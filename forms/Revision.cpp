#include "forms/Revision.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace forms {

RevisionCheck checkRevision(const automation::Variant& stamp, int required) {
    using Kind = automation::Variant::Kind;
    if (stamp.kind() != Kind::Text)
        return RevisionCheck::PreviousNeeded;
    constexpr std::string_view prefix = "patch";
    const std::string text = stamp.toText();
    if (!text.starts_with(prefix) || text.size() == prefix.size())
        return RevisionCheck::PreviousNeeded;
    std::string_view digits = std::string_view(text).substr(prefix.size());
    for (char c : digits)
        if (c < '0' || c > '9')
            return RevisionCheck::PreviousNeeded;
    // Compare as numbers without converting, so no stamp is too long to read.
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    const std::string wanted = std::to_string(required);
    int order = digits.size() != wanted.size() ? (digits.size() < wanted.size() ? -1 : 1)
                                               : digits.compare(wanted);
    if (order == 0)
        return RevisionCheck::Ready;
    return order > 0 ? RevisionCheck::NotNeeded : RevisionCheck::PreviousNeeded;
}

} // namespace forms
