// patch16-sample: writes a sample shop database at revision "patch15".
//
//   patch16-sample PATH [--format jet4|sqlite] [--goods N] [--supplies N] [--stamp TEXT]

#include "automation/Error.h"
#include "engine/jet4/file/SystemFiles.h"
#include "tools/SampleDatabase.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: patch16-sample PATH [--format jet4|sqlite] [--goods N] [--supplies N] "
                 "[--stamp TEXT]\n"
                 "Writes a new sample database at PATH (which must not exist): an Access "
                 "2000-2003 file (jet4, the default) or the engine's SQLite store.\n");
    return 2;
}

bool count(const char* text, std::int32_t& out) {
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && ptr == end && out >= 0;
}

} // namespace

int main(int argc, char** argv) {
    // Paths arrive as UTF-8 on every system (see programArguments).
    std::vector<std::string> arguments = engine::jet4::sys::programArguments(argc, argv);
    std::vector<char*> utf8;
    for (std::string& argument : arguments)
        utf8.push_back(argument.data());
    argv = utf8.data();
    std::string path;
    tools::SampleOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--goods" && hasValue) {
            if (!count(argv[++i], options.goods))
                return usage();
        } else if (arg == "--supplies" && hasValue) {
            if (!count(argv[++i], options.supplies))
                return usage();
        } else if (arg == "--format" && hasValue) {
            const std::string format = argv[++i];
            if (format == "jet4")
                options.format = tools::SampleFormat::Jet4;
            else if (format == "sqlite")
                options.format = tools::SampleFormat::Sqlite;
            else
                return usage();
        } else if (arg == "--stamp" && hasValue) {
            options.stamp = argv[++i];
        } else if (path.empty() && !arg.starts_with("--")) {
            path = arg;
        } else {
            return usage();
        }
    }
    if (path.empty())
        return usage();
    try {
        tools::makeSampleDatabase(path, options);
    } catch (const automation::Error& e) {
        std::fprintf(stderr, "patch16-sample: %s\n", e.what());
        return 1;
    }
    std::printf("%s: %s, %d goods, %d supplies, revision %s\n", path.c_str(),
                options.format == tools::SampleFormat::Jet4 ? "Access 2000-2003" : "SQLite",
                options.goods, options.supplies, options.stamp.c_str());
    return 0;
}
