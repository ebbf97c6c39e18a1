// How a revision stamp stands against revision 15: by the number after "patch", never by text.

#include "forms/Revision.h"

#include <gtest/gtest.h>

using automation::Variant;
using forms::checkRevision;
using forms::RevisionCheck;

TEST(Revision, StampsCompareByTheirNumber) {
    struct Case {
        Variant stamp;
        RevisionCheck expected;
    } cases[] = {
        {Variant("patch15"), RevisionCheck::Ready},
        {Variant("patch015"), RevisionCheck::Ready},
        {Variant("patch16"), RevisionCheck::NotNeeded},
        {Variant("patch100"), RevisionCheck::NotNeeded},
        {Variant("patch99999999999999999999999"), RevisionCheck::NotNeeded},
        {Variant("patch2"), RevisionCheck::PreviousNeeded},
        {Variant("patch14"), RevisionCheck::PreviousNeeded},
        {Variant("patch0"), RevisionCheck::PreviousNeeded},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkRevision(c.stamp, 15), c.expected) << c.stamp.describe();
}

TEST(Revision, AnythingButPatchAndDigitsNeedsThePreviousPatches) {
    const Variant stamps[] = {Variant::null(),           Variant(),           Variant(""),
                              Variant("patch"),          Variant("Patch15"),  Variant("patch15a"),
                              Variant(" patch15"),       Variant("patch-16"), Variant("patch+16"),
                              Variant(std::int32_t(15)), Variant("патч15")};
    for (const Variant& stamp : stamps)
        EXPECT_EQ(checkRevision(stamp, 15), RevisionCheck::PreviousNeeded) << stamp.describe();
}
