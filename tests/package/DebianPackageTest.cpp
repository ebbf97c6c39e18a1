// The Debian package, made from this build as the README says (cpack -G DEB) into a scratch
// folder, unpacked with dpkg-deb and looked at: the programs, the icon and desktop entry, the
// declared dependencies, and a program that runs from the unpacked tree.

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1; // the exit status, -1 when the command did not exit normally
    std::string output;
};

// Runs `command` with the shell, its standard error joined to its output.
Result run(const std::string& command) {
    Result result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        result.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string shellWord(const std::string& text) {
    return "'" + text + "'"; // the scratch paths hold no quotes
}

} // namespace

TEST(DebianPackage, HoldsTheProgramsIconAndDesktopEntryAndDeclaresItsDependencies) {
    testsupport::TempDir dir;
    const Result made = run(std::string(PATCH16_CPACK) + " -G DEB --config " +
                            shellWord(std::string(PATCH16_BUILD_DIR) + "/CPackConfig.cmake") +
                            " -B " + shellWord(dir.file("out")));
    ASSERT_EQ(made.status, 0) << made.output;
    std::string package;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.file("out")))
        if (entry.path().extension() == ".deb")
            package = entry.path().string();
    ASSERT_FALSE(package.empty()) << made.output;

    const Result fields = run("dpkg-deb -f " + shellWord(package) + " Package Depends");
    ASSERT_EQ(fields.status, 0) << fields.output;
    EXPECT_NE(fields.output.find("Package: patch16\n"), std::string::npos) << fields.output;
    for (const char* dependency : {"libqt6widgets6", "libsqlite3-0", "qt6-qpa-plugins"})
        EXPECT_NE(fields.output.find(dependency), std::string::npos)
            << dependency << " in " << fields.output;

    const std::string root = dir.file("root");
    const Result unpacked = run("dpkg-deb -x " + shellWord(package) + " " + shellWord(root));
    ASSERT_EQ(unpacked.status, 0) << unpacked.output;
    for (const char* program : {"patch16", "patch16-sample", "patch16-check"}) {
        const fs::path file = root + "/usr/bin/" + program;
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_NE(fs::status(file).permissions() & fs::perms::others_exec, fs::perms::none) << file;
    }
    EXPECT_EQ(testsupport::fileBytes(root + "/usr/share/applications/patch16.desktop"),
              testsupport::fileBytes(std::string(PATCH16_SOURCE_DIR) + "/main/patch16.desktop"));
    for (const char* size : {"16x16", "32x32"})
        EXPECT_TRUE(
            fs::is_regular_file(root + "/usr/share/icons/hicolor/" + size + "/apps/patch16.png"))
            << size;

    // The programs work as packed: the sample maker writes a database the checker finds sound.
    const std::string sample = dir.file("sample.mdb");
    const Result written = run(shellWord(root + "/usr/bin/patch16-sample") + " " +
                               shellWord(sample) + " --goods 3 --supplies 5");
    ASSERT_EQ(written.status, 0) << written.output;
    const Result checked =
        run(shellWord(root + "/usr/bin/patch16-check") + " " + shellWord(sample));
    EXPECT_EQ(checked.status, 0) << checked.output;
}
