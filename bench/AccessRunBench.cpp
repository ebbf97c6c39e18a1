// bench_AccessRunBench: the patch run as the operator starts it on an Access 2000-2003 (Jet 4)
// database, against the same run on the engine's SQLite store holding the same content.
//
//   bench_AccessRunBench [--sizes N,N,...] [--repeat R] [--dir FOLDER] [--jackcess JUDGE]
//
// For each size N (rows in GoodPric and in Supgood; default 10000,100000,1000000) the sample
// maker writes one sample of each format in FOLDER (kept there for later runs), and every
// measurement runs on a byte-for-byte copy. Each run is the window offscreen, the path in Edit1,
// a mouse click on Button1 delivered through the application, in a child process started afresh
// from this program's file, so that its peak resident memory (ru_maxrss from wait4) belongs to
// that store and size alone. Wall-clock and processor times of the click are medians of R runs
// (default 3), each store going first in every other round; peak memory is the largest of them.
// A run that shows any box, a copy left without the stamp "patch16", or two copies whose rows
// differ (the checker's dump of every user table, compared as a multiset of lines) stop the
// program with the reason.
//
// With --jackcess (the Jackcess judge's judge.sh, e.g. ../shared/jackcess/judge.sh), after each
// size the judge reads the Access copy the last run left (`judge.sh read`), then extends a copy
// of it (`judge.sh write COPY --max-cols 40`, which reads it again itself); both are timed and
// their verdicts printed, the judge's reports kept in FOLDER (jackcess-read.log,
// jackcess-write.log), and the program ends with status 1 when either did not pass. Java's heap
// is the judge's default unless JETJUDGE_JAVA_OPTS says otherwise.

#include "bench/RunThroughWindow.h"
#include "engine/Registration.h"
#include "forms/M_Patch16.h"
#include "platform/Dialogs.h"
#include "platform/qt/Application.h"
#include "tools/SampleDatabase.h"
#include "tools/check/Checker.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using bench::copyFile;
using bench::loadAverage;
using bench::Measurement;
using bench::medianOf;
using bench::peakMiB;

namespace {

// ---- the child: one run through the window ---------------------------------------------------

// ---- the parent: samples, copies, children, figures ----------------------------------------

// What the checker's dump of a database holds, in little memory: per table the number of rows
// and the sum of their lines' hashes (the same whatever the order of the rows), and the stamp.
struct Content {
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> tables;
    std::string stamp;
    bool operator==(const Content& other) const { return tables == other.tables; }
};

std::uint64_t fnv1a(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

Content contentOf(const std::string& path) {
    Content content;
    check::dump(path, [&](const std::string& line) {
        // {"table":"Name","row":{...}}
        const std::size_t start = std::strlen("{\"table\":\"");
        const std::string table = line.substr(start, line.find('"', start) - start);
        auto& [rows, sum] = content.tables[table];
        ++rows;
        sum += fnv1a(line);
        if (table == "param" && line.find("\"ID\":\"patch\"") != std::string::npos) {
            const std::string key = "\"AValue\":\"";
            const std::size_t at = line.find(key);
            content.stamp = at == std::string::npos
                                ? "?"
                                : line.substr(at + key.size(),
                                              line.find('"', at + key.size()) - at - key.size());
        }
    });
    return content;
}

const char* formatName(tools::SampleFormat format) {
    return format == tools::SampleFormat::Jet4 ? "jet4" : "sqlite";
}

// The sample of `rows` rows in `format` in FOLDER, made unless a complete one is already there.
std::string sample(const fs::path& folder, std::int32_t rows, tools::SampleFormat format) {
    const std::string path = (folder / ("sample-" + std::string(formatName(format)) + "-" +
                                        std::to_string(rows) + ".mdb"))
                                 .string();
    if (fs::exists(path)) {
        const Content content = contentOf(path);
        const auto count = [&](const char* table) {
            const auto found = content.tables.find(table);
            return found == content.tables.end() ? 0 : found->second.first;
        };
        if (count("GoodPric") == static_cast<std::uint64_t>(rows) &&
            count("Supgood") == static_cast<std::uint64_t>(rows) && content.stamp == "patch15")
            return path;
    }
    fs::remove(path);
    std::fprintf(stderr, "making the %s sample of %d rows...\n", formatName(format), rows);
    tools::makeSampleDatabase(path, {rows, rows, "patch15", format});
    return path;
}

int usage() {
    std::fprintf(stderr, "usage: bench_AccessRunBench [--sizes N,N,...] [--repeat R] [--dir "
                         "FOLDER] [--jackcess JUDGE]\n");
    return 2;
}

// A word for the shell, in single quotes.
std::string quoted(const std::string& word) {
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs `judge.sh VERB FILE ARGS` with its report going to `log`; how long it took in seconds and
// whether it passed.
struct Judged {
    double seconds = 0;
    bool passed = false;
};
Judged timeJudge(const std::string& judge, const std::string& verb, const std::string& file,
                 const std::string& args, const fs::path& log) {
    const std::string command = quoted(judge) + " " + verb + " " + quoted(file) + " " + args +
                                " >" + quoted(log.string()) + " 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            status == 0};
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--run") == 0) {
        int childArgc = 1;
        return bench::runThroughWindow(argv[2], childArgc, argv);
    }

    // --jackcess is this program's own; the other options are the benchmarks' common ones.
    std::string judge;
    bool judgeFailed = false;
    std::vector<char*> common;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--jackcess") == 0) {
            if (i + 1 >= argc)
                return usage();
            judge = argv[++i];
        } else {
            common.push_back(argv[i]);
        }
    }
    const std::optional<bench::Options> options =
        bench::parseOptions(static_cast<int>(common.size()), common.data());
    if (!options)
        return usage();
    const auto& [sizes, repeat, folder] = *options;

    try {
        const std::string self = bench::prepareFolder(folder);

        std::vector<std::array<std::string, 2>> samples;
        for (std::int32_t rows : sizes)
            samples.push_back({sample(folder, rows, tools::SampleFormat::Jet4),
                               sample(folder, rows, tools::SampleFormat::Sqlite)});

        std::printf("load average before: %s\n", loadAverage().c_str());
        std::printf("%9s %10s %10s %8s %10s %10s %8s %10s %10s\n", "rows", "jet4 s", "sqlite s",
                    "ratio", "jet4 cpu", "sqlite cpu", "ratio", "jet4 MiB", "sqlite MiB");
        const std::array<std::string, 2> copies = {(folder / "run-jet4.mdb").string(),
                                                   (folder / "run-sqlite.mdb").string()};
        for (std::size_t s = 0; s < sizes.size(); ++s) {
            std::array<std::vector<Measurement>, 2> runs;
            for (int r = 0; r < repeat; ++r) {
                // Each store goes first in every other round, so neither always meets the
                // other's write-back or a warmer cache.
                for (const std::size_t side : {std::size_t(r % 2), std::size_t(1 - r % 2)}) {
                    copyFile(samples[s][side], copies[side]);
                    runs[side].push_back(bench::measureChild({self, "--run", copies[side]}));
                }
                if (r > 0)
                    continue;
                const Content jet = contentOf(copies[0]);
                const Content sqlite = contentOf(copies[1]);
                if (jet.stamp != "patch16" || sqlite.stamp != "patch16")
                    throw std::runtime_error("a copy was not stamped patch16 (jet4: " + jet.stamp +
                                             ", sqlite: " + sqlite.stamp + ")");
                if (!(jet == sqlite))
                    throw std::runtime_error("the two stores left different rows at " +
                                             std::to_string(sizes[s]) + " rows");
            }
            const double wall[2] = {medianOf(runs[0], &Measurement::seconds),
                                    medianOf(runs[1], &Measurement::seconds)};
            const double cpu[2] = {medianOf(runs[0], &Measurement::cpuSeconds),
                                   medianOf(runs[1], &Measurement::cpuSeconds)};
            std::printf("%9d %10.3f %10.3f %8.2f %10.3f %10.3f %8.2f %10.1f %10.1f\n", sizes[s],
                        wall[0], wall[1], wall[0] / wall[1], cpu[0], cpu[1], cpu[0] / cpu[1],
                        peakMiB(runs[0]), peakMiB(runs[1]));
            std::fflush(stdout);
            if (!judge.empty()) {
                const std::string extended = (folder / "run-jet4-jackcess.mdb").string();
                const fs::path readLog = folder / "jackcess-read.log";
                const fs::path writeLog = folder / "jackcess-write.log";
                const Judged read = timeJudge(judge, "read", copies[0], "", readLog);
                copyFile(copies[0], extended);
                const Judged write = timeJudge(judge, "write", extended, "--max-cols 40", writeLog);
                // The checker holds both files to the same tree rules Jackcess validates.
                const bool resultSound = check::checkFile(copies[0]).sound();
                const bool extendedSound = check::checkFile(extended).sound();
                fs::remove(extended);
                const auto verdict = [](const Judged& j, const fs::path& log) {
                    return j.passed ? std::string("passed") : "FAILED (see " + log.string() + ")";
                };
                std::printf("%9d Jackcess: reading the Access result %.1f s, %s; extending a copy "
                            "and reading it again %.1f s, %s\n",
                            sizes[s], read.seconds, verdict(read, readLog).c_str(), write.seconds,
                            verdict(write, writeLog).c_str());
                std::fflush(stdout);
                std::printf("%9d patch16-check: the result %s, the copy Jackcess extended %s\n",
                            sizes[s], resultSound ? "sound" : "FAULTS",
                            extendedSound ? "sound" : "FAULTS");
                std::fflush(stdout);
                judgeFailed =
                    judgeFailed || !read.passed || !write.passed || !resultSound || !extendedSound;
            }
        }
        std::printf("load average after: %s\n", loadAverage().c_str());
        for (const std::string& copy : copies)
            fs::remove(copy);
        if (judgeFailed)
            return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_AccessRunBench: %s\n", e.what());
        return 1;
    }
    return 0;
}
