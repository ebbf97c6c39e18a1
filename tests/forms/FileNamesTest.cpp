// File names as bytes: shown readably in the path field, read back exactly, and carried exactly
// through the file dialog's URLs.

#include "platform/FileNames.h"
#include "platform/qt/QtDialogs.h"

#include <gtest/gtest.h>

#include <QUrl>

#include <string>

TEST(FileNames, AreShownReadablyAndReadBackByteForByte) {
    const struct {
        std::string bytes;
        const char* shown;
    } cases[] = {
        {"/srv/DB/Товары.mdb", "/srv/DB/Товары.mdb"},
        {"/srv/DB/\xD2\xEE\xE2\xE0\xF0\xFB.mdb", // Windows-1251
         "/srv/DB/\\xD2\\xEE\\xE2\\xE0\\xF0\\xFB.mdb"},
        {"/srv/DB/\x92\xAE\xA2\xA0\xE0\xEB.mdb", // CP866
         "/srv/DB/\\x92\\xAE\\xA2\\xA0\\xE0\\xEB.mdb"},
        {"/srv/\xD0\xA2\xD0.mdb", "/srv/Т\\xD0.mdb"}, // a cut UTF-8 sequence
        {"/srv/a\\x41.mdb", "/srv/a\\x5Cx41.mdb"},    // a backslash that reads as an escape
        {"/srv/a\\b\\x.mdb", "/srv/a\\b\\x.mdb"},     // backslashes that do not
        {"/srv/tab\there\n.mdb", "/srv/tab\\x09here\\x0A.mdb"}, // control characters
    };
    for (const auto& c : cases) {
        const std::string shown = platform::displayFileName(c.bytes);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(platform::fileNameBytes(shown), c.bytes) << c.shown;
        // The file system gets the bytes themselves, and hands them back unchanged.
        EXPECT_EQ(platform::fileSystemPath(c.bytes).native(), c.bytes) << c.shown;
        EXPECT_EQ(platform::heldName(platform::fileSystemPath(c.bytes)), c.bytes) << c.shown;
    }
}

TEST(FileNames, TypedPathsAreTakenAsTheyRead) {
    EXPECT_EQ(platform::fileNameBytes("/home/оператор/Магазин.mdb"), "/home/оператор/Магазин.mdb");
    EXPECT_EQ(platform::fileNameBytes("/srv/\\xd2\\xee.mdb"), "/srv/\xD2\xEE.mdb");
}

TEST(FileNames, TravelExactlyThroughFileUrls) {
    for (const std::string bytes :
         {"/tmp/\xD2\xEE\xE2\xE0\xF0\xFB/a b%20#?.mdb", "/srv/Товары.mdb", "/"}) {
        const QUrl url = platform::localFileUrl(bytes);
        EXPECT_TRUE(url.isLocalFile()) << bytes;
        EXPECT_EQ(platform::localFileBytes(url), bytes);
    }
    // As a dialog that lists names in any encoding hands them over.
    EXPECT_EQ(platform::localFileBytes(QUrl::fromEncoded("file:///srv/DB/%D2%EE.mdb")),
              "/srv/DB/\xD2\xEE.mdb");
    EXPECT_EQ(platform::localFileBytes(QUrl::fromLocalFile(QStringLiteral("/srv/Товары.mdb"))),
              "/srv/Товары.mdb");
}
