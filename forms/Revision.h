#pragma once
// How a database's revision stamp stands against the revision this patch requires.

#include "automation/Variant.h"

namespace forms {

enum class RevisionCheck {
    Ready,          // the stamp is the required revision
    NotNeeded,      // a later revision: the patch is already in
    PreviousNeeded, // an earlier revision, or a stamp that names none
};

// Compares `stamp` with revision `required`. A stamp of "patch" followed by decimal digits
// compares by its number, so "patch2" is earlier than "patch15" and "patch100" later; any other
// stamp, Null or empty included, needs the earlier patches.
RevisionCheck checkRevision(const automation::Variant& stamp, int required);

} // namespace forms
