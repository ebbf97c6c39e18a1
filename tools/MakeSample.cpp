// patch16-sample: writes a sample shop database at revision "patch15".
//
//   patch16-sample PATH [--goods N] [--supplies N] [--stamp TEXT]

#include "automation/Error.h"
#include "tools/SampleDatabase.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: patch16-sample PATH [--goods N] [--supplies N] [--stamp TEXT]\n"
                         "Writes a new sample database at PATH (which must not exist).\n");
    return 2;
}

bool count(const char* text, std::int32_t& out) {
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && ptr == end && out >= 0;
}

} // namespace

int main(int argc, char** argv) {
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
    std::printf("%s: %d goods, %d supplies, revision %s\n", path.c_str(), options.goods,
                options.supplies, options.stamp.c_str());
    return 0;
}
