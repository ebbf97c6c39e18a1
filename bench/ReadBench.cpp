// bench_ReadBench: reading whole Access 2000-2003 files through the engine, as a caller of the
// object model does, against Debian's mdbtools exporting the same tables.
//
//   bench_ReadBench [--files FILE,FILE,...] [--repeat R]
//
// The files are taken from the Access sample folder (PATCH16_JET_SAMPLES, else
// ../shared/jet-samples beside the source tree), read in place; by default the five largest.
// A name that is not absolute is taken inside that folder.
//
// (a) A child process started afresh from this program's file creates the engine by its ProgID,
//     opens the file through Workspaces(0).OpenDatabase, opens a recordset on every table of
//     TableDefs and walks every row, reading every field's Value, all through late-bound calls;
//     then closes. It prints the wall-clock and processor time of that span; its peak resident
//     memory comes from wait4 (ru_maxrss of the whole child).
// (b) "mdb-tables -1 FILE", then "mdb-export FILE TABLE" for every table it lists, one after
//     the other as child processes of this program, their output discarded. Wall-clock time
//     runs from the first start to the last exit; processor time is the sum over the children
//     and peak memory the largest of them, both from wait4.
//
// Times are medians of R runs (default 3), the two sides going first in turn; peak memory is the
// largest of the R runs. Before measuring, the rows mdb-export writes are counted once (CSV
// records, quoted line breaks included) and must equal the rows (a) walks. (a) is also run on
// the smallest file of the folder, to set its peak memory beside that of the largest file.
// A Markdown table of the figures ends the output.

#include "automation/Error.h"
#include "automation/Registry.h"
#include "automation/Variant.h"
#include "engine/Registration.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using automation::Variant;

using Clock = std::chrono::steady_clock;

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double cpuOf(const rusage& usage) {
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double selfCpu() {
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    return cpuOf(self);
}

long selfPeakKiB() {
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    return self.ru_maxrss;
}

// ---- side (a): the engine, as a caller of the object model ----------------------------------

// Walks every row of every table of `path` and prints the times the walk took, the rows and
// tables read, how many values were not Null (so no read can be left out), and the peak memory
// the child had before the engine was created.
int engineSide(const std::string& path) {
    const long basePeakKiB = selfPeakKiB();
    const auto wallStart = Clock::now();
    const double cpuStart = selfCpu();
    std::int64_t rows = 0;
    std::int64_t values = 0;
    std::int32_t tables = 0;
    try {
        engine::registerEngine();
        Variant dbEngine = automation::createOleObject(engine::ProgId);
        Variant workspace = dbEngine.get("Workspaces", {std::int32_t{0}});
        Variant database = workspace.call("OpenDatabase", {Variant(path)});
        Variant tableDefs = database.get("TableDefs");
        tables = tableDefs.get("Count").toInt();
        for (std::int32_t t = 0; t < tables; ++t) {
            const std::string name = tableDefs.get("Item", {t}).get("Name").toText();
            // In brackets, as a name with spaces is otherwise read as a statement; Access
            // names never hold brackets themselves.
            Variant recordset = database.call("OpenRecordset", {Variant("[" + name + "]")});
            // The caller holds the recordset's Fields and asks each row for Fields(i).Value.
            Variant fields = recordset.get("Fields");
            const std::int32_t count = fields.get("Count").toInt();
            while (!recordset.get("EOF").toBool()) {
                for (std::int32_t i = 0; i < count; ++i)
                    if (!fields.get("Item", {i}).get("Value").isNull())
                        ++values;
                ++rows;
                recordset.call("MoveNext");
            }
            recordset.call("Close");
        }
        database.call("Close");
    } catch (const automation::Error& e) {
        std::fprintf(stderr, "%s: error %ld: %s\n", path.c_str(), e.number(), e.what());
        return 1;
    }
    const std::chrono::duration<double> wall = Clock::now() - wallStart;
    std::printf("time %.6f cpu %.6f rows %lld tables %d values %lld base %ld\n", wall.count(),
                selfCpu() - cpuStart, static_cast<long long>(rows), tables,
                static_cast<long long>(values), basePeakKiB);
    return 0;
}

// ---- the parent: children and what wait4 says of them --------------------------------------

struct Child {
    std::string output; // what it wrote to its standard output, when kept
    rusage usage{};
};

// Runs `argv` as a child of this process and waits for it. Its standard output is kept when
// `keepOutput`, otherwise sent to /dev/null; its standard error stays this program's. A child
// that fails to start, is killed or exits other than 0 raises with what it printed.
Child runChild(const std::vector<std::string>& argv, bool keepOutput) {
    int out[2] = {-1, -1};
    if (keepOutput && ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        const int target = keepOutput ? out[1] : ::open("/dev/null", O_WRONLY);
        if (target < 0 || ::dup2(target, STDOUT_FILENO) < 0)
            std::_Exit(126);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
    Child child;
    if (keepOutput) {
        ::close(out[1]);
        char buffer[65536];
        for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
            child.output.append(buffer, static_cast<std::size_t>(got));
        ::close(out[0]);
    }
    int status = 0;
    if (::wait4(pid, &status, 0, &child.usage) != pid)
        throw std::runtime_error("wait4 failed for " + argv[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command;
        for (const std::string& arg : argv)
            command += (command.empty() ? "" : " ") + arg;
        throw std::runtime_error(
            command +
            (WIFEXITED(status) ? " exited with " + std::to_string(WEXITSTATUS(status))
                               : std::string(" was killed")) +
            (WIFEXITED(status) && WEXITSTATUS(status) == 127 ? " (could not be started)" : "") +
            (child.output.empty() ? "" : ":\n" + child.output));
    }
    return child;
}

struct Measurement {
    double seconds = 0;    // wall-clock time of the work
    double cpuSeconds = 0; // processor time of the work, user and system
    long peakKiB = 0;      // ru_maxrss: of the whole child for (a), of the largest child for (b)
    std::int64_t rows = 0;
    std::int32_t tables = 0;
    long basePeakKiB = 0; // (a) only: the child's peak before the engine was created
};

Measurement measureEngine(const std::string& self, const std::string& path) {
    const Child child = runChild({self, "--side", "a", path}, true);
    Measurement m;
    m.peakKiB = child.usage.ru_maxrss;
    std::istringstream line(child.output);
    std::string time, cpu, rows, tables, values, base;
    long long rowCount = 0, valueCount = 0;
    line >> time >> m.seconds >> cpu >> m.cpuSeconds >> rows >> rowCount >> tables >> m.tables >>
        values >> valueCount >> base >> m.basePeakKiB;
    if (!line || time != "time" || base != "base")
        throw std::runtime_error("the engine side printed something else for " + path + ":\n" +
                                 child.output);
    m.rows = rowCount;
    return m;
}

// The table names "mdb-tables -1" lists, one a line.
std::vector<std::string> tablesOf(const Child& listing) {
    std::vector<std::string> names;
    std::istringstream lines(listing.output);
    for (std::string name; std::getline(lines, name);)
        if (!name.empty())
            names.push_back(name);
    return names;
}

Measurement measureMdbTools(const std::string& path) {
    Measurement m;
    const auto start = Clock::now();
    const Child listing = runChild({"mdb-tables", "-1", path}, true);
    double cpu = cpuOf(listing.usage);
    long peak = listing.usage.ru_maxrss;
    const std::vector<std::string> names = tablesOf(listing);
    for (const std::string& name : names) {
        const Child exporter = runChild({"mdb-export", path, name}, false);
        cpu += cpuOf(exporter.usage);
        peak = std::max(peak, exporter.usage.ru_maxrss);
    }
    const std::chrono::duration<double> wall = Clock::now() - start;
    m.seconds = wall.count();
    m.cpuSeconds = cpu;
    m.peakKiB = peak;
    m.tables = static_cast<std::int32_t>(names.size());
    return m;
}

// The records of mdb-export's CSV output after its header line. A line break inside double
// quotes belongs to the value; a doubled quote inside a value toggles twice and changes nothing.
std::int64_t csvRecords(const std::string& csv) {
    std::int64_t records = 0;
    bool quoted = false;
    bool content = false;
    for (char c : csv) {
        if (c == '"')
            quoted = !quoted;
        if (c == '\n' && !quoted) {
            records += content ? 1 : 0;
            content = false;
        } else {
            content = true;
        }
    }
    records += content ? 1 : 0;
    return records > 0 ? records - 1 : 0;
}

// The rows mdb-export writes for every table of `path`, from one run not measured.
std::int64_t rowsExported(const std::string& path) {
    std::int64_t rows = 0;
    for (const std::string& name : tablesOf(runChild({"mdb-tables", "-1", path}, true)))
        rows += csvRecords(runChild({"mdb-export", path, name}, true).output);
    return rows;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double medianOf(const std::vector<Measurement>& runs, double Measurement::*field) {
    std::vector<double> values;
    for (const Measurement& m : runs)
        values.push_back(m.*field);
    return median(values);
}

double peakMiB(const std::vector<Measurement>& runs) {
    long peak = 0;
    for (const Measurement& m : runs)
        peak = std::max(peak, m.peakKiB);
    return static_cast<double>(peak) / 1024.0;
}

double basePeakMiB(const std::vector<Measurement>& runs) {
    long peak = 0;
    for (const Measurement& m : runs)
        peak = std::max(peak, m.basePeakKiB);
    return static_cast<double>(peak) / 1024.0;
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

#ifndef PATCH16_SOURCE_DIR
#define PATCH16_SOURCE_DIR "."
#endif

fs::path defaultSampleFolder() {
    return fs::path(PATCH16_SOURCE_DIR) / ".." / "shared" / "jet-samples";
}

// The folder named by PATCH16_JET_SAMPLES, else the one beside the source tree.
fs::path sampleFolder() {
    if (const char* env = std::getenv("PATCH16_JET_SAMPLES"); env && *env)
        return env;
    return defaultSampleFolder().lexically_normal();
}

// Every .mdb file under `folder`, largest first (by name when equal).
std::vector<fs::path> samplesBySize(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".mdb")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        const auto sizeA = fs::file_size(a), sizeB = fs::file_size(b);
        return sizeA != sizeB ? sizeA > sizeB : a < b;
    });
    return files;
}

std::string withThousands(std::uintmax_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

int usage() {
    std::fprintf(stderr, "usage: bench_ReadBench [--files FILE,FILE,...] [--repeat R]\n");
    return 2;
}

struct FileFigures {
    fs::path file;
    std::string shown; // the name inside the sample folder
    std::vector<Measurement> engine, mdbTools;
    std::int64_t exportedRows = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--side") == 0 && std::strcmp(argv[2], "a") == 0)
        return engineSide(argv[3]);

    std::vector<std::string> names;
    int repeat = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (arg == "--files") {
            std::istringstream list(value);
            for (std::string item; std::getline(list, item, ',');)
                if (!item.empty())
                    names.push_back(item);
        } else if (arg == "--repeat") {
            repeat = std::max(1, std::atoi(value.c_str()));
        } else {
            return usage();
        }
    }

    fs::path folder = sampleFolder();
    if (std::error_code error; !fs::is_directory(folder, error)) {
        std::fprintf(stderr,
                     "bench_ReadBench: the Access sample folder %s is missing (set "
                     "PATCH16_JET_SAMPLES to the folder of the sample files)\n",
                     folder.c_str());
        return 1;
    }
    folder = fs::weakly_canonical(folder);

    try {
        const std::vector<fs::path> bySize = samplesBySize(folder);
        if (bySize.empty())
            throw std::runtime_error("no .mdb file in " + folder.string());
        std::vector<FileFigures> files;
        if (names.empty()) {
            for (std::size_t i = 0; i < std::min<std::size_t>(5, bySize.size()); ++i)
                files.push_back({bySize[i], {}, {}, {}, 0});
        } else {
            for (const std::string& name : names) {
                fs::path file = fs::path(name).is_absolute() ? fs::path(name) : folder / name;
                if (!fs::is_regular_file(file))
                    throw std::runtime_error("no such file: " + file.string());
                files.push_back({file, {}, {}, {}, 0});
            }
        }
        for (FileFigures& f : files) {
            const fs::path relative = f.file.lexically_relative(folder);
            f.shown =
                relative.empty() || *relative.begin() == ".." ? f.file.string() : relative.string();
        }
        const fs::path smallest = bySize.back();
        const fs::path largest =
            std::max_element(files.begin(), files.end(),
                             [](const FileFigures& a, const FileFigures& b) {
                                 return fs::file_size(a.file) < fs::file_size(b.file);
                             })
                ->file;
        const std::string self = fs::read_symlink("/proc/self/exe").string();

        std::printf("samples: %s\n", folder.c_str());
        std::printf("load average before: %s\n", loadAverage().c_str());
        std::printf("%-36s %6s %6s %9s %9s %7s %9s %9s %7s %8s %8s\n", "file", "tables", "rows",
                    "(a) ms", "(b) ms", "(a)/(b)", "(a) cpu", "(b) cpu", "(a)/(b)", "(a) MiB",
                    "(b) MiB");
        for (FileFigures& f : files) {
            // The count mdb-export gives, before anything is timed; it also brings the file
            // into the system's cache for both sides alike.
            f.exportedRows = rowsExported(f.file.string());
            for (int r = 0; r < repeat; ++r) {
                // Each side goes first in every other round.
                for (bool engineFirst : {r % 2 == 0, r % 2 != 0}) {
                    if (engineFirst)
                        f.engine.push_back(measureEngine(self, f.file.string()));
                    else
                        f.mdbTools.push_back(measureMdbTools(f.file.string()));
                }
            }
            const Measurement& a = f.engine.front();
            const Measurement& b = f.mdbTools.front();
            if (a.rows != f.exportedRows || a.tables != b.tables)
                throw std::runtime_error(
                    f.shown + ": the engine read " + std::to_string(a.rows) + " rows of " +
                    std::to_string(a.tables) + " tables, mdb-export wrote " +
                    std::to_string(f.exportedRows) + " rows of " + std::to_string(b.tables));
            const double wallA = medianOf(f.engine, &Measurement::seconds);
            const double wallB = medianOf(f.mdbTools, &Measurement::seconds);
            const double cpuA = medianOf(f.engine, &Measurement::cpuSeconds);
            const double cpuB = medianOf(f.mdbTools, &Measurement::cpuSeconds);
            std::printf("%-36s %6d %6lld %9.2f %9.2f %7.3f %9.2f %9.2f %7.3f %8.1f %8.1f\n",
                        f.shown.c_str(), a.tables, static_cast<long long>(a.rows), wallA * 1e3,
                        wallB * 1e3, wallA / wallB, cpuA * 1e3, cpuB * 1e3, cpuA / cpuB,
                        peakMiB(f.engine), peakMiB(f.mdbTools));
            std::fflush(stdout);
        }

        // The engine's peak on the smallest file of the folder, beside the largest measured.
        std::vector<Measurement> small, large;
        for (int r = 0; r < repeat; ++r) {
            small.push_back(measureEngine(self, smallest.string()));
            large.push_back(measureEngine(self, largest.string()));
        }
        const std::string loadAfter = loadAverage();
        std::printf("load average after: %s\n\n", loadAfter.c_str());

        std::printf("| file | size, KiB | tables | rows | (a) engine, ms | (b) mdb-export, ms | "
                    "(a)/(b) | (a) cpu, ms | (b) cpu, ms | cpu (a)/(b) | (a) peak, MiB | "
                    "(b) peak, MiB |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (const FileFigures& f : files) {
            const double wallA = medianOf(f.engine, &Measurement::seconds);
            const double wallB = medianOf(f.mdbTools, &Measurement::seconds);
            const double cpuA = medianOf(f.engine, &Measurement::cpuSeconds);
            const double cpuB = medianOf(f.mdbTools, &Measurement::cpuSeconds);
            std::printf("| `%s` | %s | %d | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.1f | "
                        "%.1f |\n",
                        f.shown.c_str(), withThousands(fs::file_size(f.file) / 1024).c_str(),
                        f.engine.front().tables,
                        withThousands(static_cast<std::uintmax_t>(f.engine.front().rows)).c_str(),
                        wallA * 1e3, wallB * 1e3, wallA / wallB, cpuA * 1e3, cpuB * 1e3,
                        cpuA / cpuB, peakMiB(f.engine), peakMiB(f.mdbTools));
        }
        auto shownOf = [&](const fs::path& file) {
            const fs::path relative = file.lexically_relative(folder);
            return relative.empty() || *relative.begin() == ".." ? file.string()
                                                                 : relative.string();
        };
        std::printf("\n(a) peak memory: %.1f MiB on the smallest file (`%s`, %s KiB, %d tables, "
                    "%lld rows), %.1f MiB on the largest (`%s`, %s KiB, %d tables, %lld rows); "
                    "%.1f and %.1f MiB of them were the program's before the engine was "
                    "created.\n",
                    peakMiB(small), shownOf(smallest).c_str(),
                    withThousands(fs::file_size(smallest) / 1024).c_str(), small.front().tables,
                    static_cast<long long>(small.front().rows), peakMiB(large),
                    shownOf(largest).c_str(), withThousands(fs::file_size(largest) / 1024).c_str(),
                    large.front().tables, static_cast<long long>(large.front().rows),
                    basePeakMiB(small), basePeakMiB(large));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ReadBench: %s\n", e.what());
        return 1;
    }
    return 0;
}
