// patch16-check FILE         checks a database and prints what it found
// patch16-check --dump FILE  prints every row of every user table as JSON Lines
//
// Exit status: 0 sound (or dumped), 1 faults found, 2 the file cannot be read. The file is
// opened read-only and never written.

#include "tools/check/Checker.h"

#include "engine/jet4/file/SystemFiles.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

int usage() {
    std::cerr << "usage: patch16-check FILE\n       patch16-check --dump FILE\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // Paths arrive as UTF-8 on every system (see programArguments).
    std::vector<std::string> arguments = engine::jet4::sys::programArguments(argc, argv);
    std::vector<char*> utf8;
    for (std::string& argument : arguments)
        utf8.push_back(argument.data());
    argv = utf8.data();
    const bool dump = argc == 3 && std::strcmp(argv[1], "--dump") == 0;
    if (argc != 2 && !dump)
        return usage();
    const std::string path = argv[argc - 1];
    try {
        if (dump) {
            check::dump(path, [](const std::string& line) { std::cout << line << '\n'; });
            std::cout.flush();
            return std::cout ? 0 : 2;
        }
        const check::Report report = check::checkFile(path);
        for (const auto& note : report.notes)
            std::cout << note << '\n';
        for (const auto& fault : report.faults)
            std::cout << "FAULT " << fault.kind << ": " << fault.detail << '\n';
        std::cout << (report.sound() ? "sound" : std::to_string(report.faults.size()) + " fault(s)")
                  << '\n';
        return report.sound() ? 0 : 1;
    } catch (const check::Unreadable& e) {
        std::cout.flush();
        std::cerr << "patch16-check: " << path << ": " << e.reason << '\n';
        return 2;
    }
}
