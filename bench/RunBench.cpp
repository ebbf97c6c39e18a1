// bench_RunBench: the patch run as the operator starts it, against the same changes issued as
// plain SQL straight to SQLite in one transaction, on sample databases of growing size.
//
//   bench_RunBench [--sizes N,N,...] [--repeat R] [--dir FOLDER]
//
// For each size N (rows in GoodPric and in Supgood; default 10000,100000,1000000) a sample
// database is made once in FOLDER (kept there for later runs) and copied byte for byte for every
// measurement. Each measurement runs in a child process of its own, started afresh from this
// program's file, so that its peak resident memory (ru_maxrss) belongs to that side and size
// alone. Wall-clock and processor times (the run's click; open to close for the SQL) are
// medians of R runs (default 3); peak memory is the largest of them. A run that shows any box,
// a copy left without the stamp "patch16", or two sides leaving different schemas stop the
// program with the reason.

#include "bench/RunThroughWindow.h"
#include "engine/Registration.h"
#include "forms/M_Patch16.h"
#include "platform/Dialogs.h"
#include "platform/qt/Application.h"
#include "tools/SampleDatabase.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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
using bench::Stopwatch;

namespace {

// ---- the plain SQL side --------------------------------------------------------------------

// Revision 16 as SQLite's own SQL, with the column types, keys and index columns the engine
// writes for the run's statements, so both sides leave the same schema behind.
constexpr std::array PlainStatements = {
    "CREATE TABLE \"LogDoc\" (\"Vn\" TEXT(10) NOT NULL, \"KindDoc\" TEXT(3), \"IsIncome\" SHORT, "
    "\"Owner\" SHORT)",
    "CREATE UNIQUE INDEX \"LogDoc_PK_VN\" ON \"LogDoc\" (\"Vn\")",
    "CREATE TABLE \"LogDocU\" (\"ID\" TEXT(10) NOT NULL, \"UserID\" TEXT(10) NOT NULL, \"DateOp\" "
    "DATETIME NOT NULL, \"TIMEOP\" TEXT(8) NOT NULL, \"OP\" TEXT(1) NOT NULL, \"VN\" TEXT(10) NOT "
    "NULL, \"SumTotal\" CURRENCY, \"Num\" TEXT(10), \"DFrom\" TEXT(10), \"Firm\" TEXT(10))",
    "CREATE UNIQUE INDEX \"LogDocU_PK_ID\" ON \"LogDocU\" (\"ID\")",
    "CREATE INDEX \"LogDocU_I_Op\" ON \"LogDocU\" (\"VN\", \"OP\")",
    "CREATE INDEX \"LogDocU_I_Vn\" ON \"LogDocU\" (\"VN\", \"DateOp\", \"TIMEOP\")",
    "CREATE TABLE \"LogPart\" (\"PartID\" TEXT(10) NOT NULL, \"Vn\" TEXT(10) NOT NULL)",
    "CREATE UNIQUE INDEX \"LogPart_PK_PartID\" ON \"LogPart\" (\"PartID\")",
    "CREATE INDEX \"LogPart_I_Vn\" ON \"LogPart\" (\"Vn\")",
    "CREATE TABLE \"LogPartU\" (\"ID\" TEXT(10) NOT NULL, \"UserID\" TEXT(10) NOT NULL, "
    "\"DateOp\" DATETIME NOT NULL, \"TIMEOP\" TEXT(8) NOT NULL, \"OP\" TEXT(1) NOT NULL, "
    "\"PartID\" TEXT(10) NOT NULL, \"Name\" TEXT(50), \"HowMany\" DOUBLE, \"PriceTotal\" "
    "CURRENCY)",
    "CREATE UNIQUE INDEX \"LogPartU_PK_ID\" ON \"LogPartU\" (\"ID\")",
    "CREATE INDEX \"LogPartU_I_PartID\" ON \"LogPartU\" (\"PartID\", \"DateOp\", \"TIMEOP\")",
    "CREATE TABLE \"LogTbl\" (\"ID\" TEXT(10) NOT NULL, \"UserID\" TEXT(10) NOT NULL, \"DateOp\" "
    "DATETIME NOT NULL, \"TIMEOP\" TEXT(8) NOT NULL, \"RecID\" TEXT(10) NOT NULL, \"NTable\" "
    "TEXT(10) NOT NULL, \"OP\" TEXT(1) NOT NULL)",
    "CREATE UNIQUE INDEX \"LogTbl_PK_ID\" ON \"LogTbl\" (\"ID\")",
    "CREATE INDEX \"LogTbl_I_RecID\" ON \"LogTbl\" (\"RecID\", \"DateOp\", \"TIMEOP\")",
    "ALTER TABLE \"GoodPric\" ADD COLUMN \"MinValue\" CURRENCY",
    "UPDATE \"GoodPric\" SET \"MinValue\"=0",
    "ALTER TABLE \"Supgood\" ADD COLUMN \"SertBlank\" TEXT(10)",
    "ALTER TABLE \"Supgood\" ADD COLUMN \"SertNum\" TEXT(30)",
    "ALTER TABLE \"Supgood\" ADD COLUMN \"SertStart\" DATETIME",
    "ALTER TABLE \"Supgood\" ADD COLUMN \"SertEnd\" DATETIME",
    "ALTER TABLE \"Supgood\" ADD COLUMN \"SertIssue\" TEXT(120)",
    "ALTER TABLE \"Supgood\" ADD COLUMN \"SertGet\" TEXT(100)",
    "ALTER TABLE \"Supgood\" DROP COLUMN \"Certificat\"",
    "CREATE INDEX \"SupGood_I_Good\" ON \"Supgood\" (\"Owner\", \"Good\", \"DCome\", "
    "\"PriceSupp\")",
    "CREATE INDEX \"SupGood_I_Vn\" ON \"Supgood\" (\"Vn\")",
    "UPDATE \"param\" SET \"AValue\"='patch16' WHERE \"ID\"='patch'",
};

// Runs one statement to its end; false (with the message on stderr) when SQLite refuses it.
bool run(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "%s: %s\n", sql, message ? message : "?");
    sqlite3_free(message);
    return false;
}

// Side (b): open, one transaction with every change, close. Prints the times it took.
int plainSide(const std::string& path) {
    const Stopwatch stopwatch;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        sqlite3_close(db);
        return 1;
    }
    bool ok = run(db, "BEGIN IMMEDIATE");
    for (const char* sql : PlainStatements)
        ok = ok && run(db, sql);
    // The stamp row must have been there, as the run requires it.
    ok = ok && sqlite3_changes(db) == 1 && run(db, "COMMIT");
    if (!ok)
        run(db, "ROLLBACK");
    sqlite3_close(db);
    stopwatch.print();
    return ok ? 0 : 1;
}

// ---- the run side --------------------------------------------------------------------------

// ---- the parent: samples, copies, children, figures -----------------------------------------

// One value of an SQL query on `path`, or nothing when it fails or yields no row.
std::optional<std::string> scalar(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::optional<std::string> value;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            value = text ? reinterpret_cast<const char*>(text) : "";
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

// What a user sees of the schema of every user table: columns with type and Null rule, indexes
// with uniqueness and key columns, sorted so that the order of creation does not matter.
std::string schemaOf(const std::string& path) {
    return scalar(path,
                  "SELECT group_concat(line, char(10)) FROM (SELECT line FROM ("
                  " SELECT lower(m.name) || ' column ' || c.name || ' ' || c.type || ' ' || "
                  "c.\"notnull\" AS line FROM sqlite_master m, pragma_table_info(m.name) c"
                  " WHERE m.type='table' AND m.name NOT LIKE 'MSys%'"
                  " UNION ALL"
                  " SELECT lower(m.name) || ' index ' || il.name || ' ' || il.\"unique\" || ' ' ||"
                  " (SELECT group_concat(name, ',') FROM (SELECT name FROM pragma_index_info("
                  "il.name) ORDER BY seqno))"
                  " FROM sqlite_master m, pragma_index_list(m.name) il"
                  " WHERE m.type='table' AND m.name NOT LIKE 'MSys%') ORDER BY line)")
        .value_or("?");
}

std::int64_t rowCount(const std::string& path, const char* table) {
    std::optional<std::string> n = scalar(path, std::string("SELECT count(*) FROM ") + table);
    return n ? std::stoll(*n) : -1;
}

std::string stampOf(const std::string& path) {
    return scalar(path, "SELECT AValue FROM param WHERE ID='patch'").value_or("?");
}

// The sample of `rows` rows in FOLDER, made unless a complete one is already there.
std::string sample(const fs::path& folder, std::int32_t rows) {
    const std::string path = (folder / ("sample-" + std::to_string(rows) + ".mdb")).string();
    if (fs::exists(path) && rowCount(path, "GoodPric") == rows &&
        rowCount(path, "Supgood") == rows && stampOf(path) == "patch15")
        return path;
    fs::remove(path);
    std::fprintf(stderr, "making the sample of %d rows...\n", rows);
    tools::makeSampleDatabase(path, {rows, rows, "patch15", tools::SampleFormat::Sqlite});
    return path;
}

int usage() {
    std::fprintf(stderr, "usage: bench_RunBench [--sizes N,N,...] [--repeat R] [--dir FOLDER]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--side") == 0) {
        int childArgc = 1;
        if (std::strcmp(argv[2], "a") == 0)
            return bench::runThroughWindow(argv[3], childArgc, argv);
        return std::strcmp(argv[2], "b") == 0 ? plainSide(argv[3]) : usage();
    }

    const std::optional<bench::Options> options = bench::parseOptions(argc, argv);
    if (!options)
        return usage();
    const auto& [sizes, repeat, folder] = *options;

    try {
        const std::string self = bench::prepareFolder(folder);
        std::vector<std::string> samples;
        for (std::int32_t rows : sizes)
            samples.push_back(sample(folder, rows));

        std::printf("load average before: %s\n", loadAverage().c_str());
        std::printf("%9s %10s %10s %8s %10s %10s %8s %10s %10s\n", "rows", "(a) s", "(b) s",
                    "(a)/(b)", "(a) cpu s", "(b) cpu s", "(a)/(b)", "(a) MiB", "(b) MiB");
        const std::string copyA = (folder / "run-a.mdb").string();
        const std::string copyB = (folder / "run-b.mdb").string();
        for (std::size_t s = 0; s < sizes.size(); ++s) {
            std::vector<Measurement> sideA, sideB;
            for (int r = 0; r < repeat; ++r) {
                // Each side goes first in every other round, so neither always meets the
                // other's write-back or a warmer cache.
                for (bool aFirst : {r % 2 == 0, r % 2 != 0}) {
                    const std::string& copy = aFirst ? copyA : copyB;
                    copyFile(samples[s], copy);
                    (aFirst ? sideA : sideB)
                        .push_back(bench::measureChild({self, "--side", aFirst ? "a" : "b", copy}));
                }
                for (const std::string& copy : {copyA, copyB})
                    if (stampOf(copy) != "patch16")
                        throw std::runtime_error(copy + " was not stamped patch16");
                if (r == 0 && schemaOf(copyA) != schemaOf(copyB))
                    throw std::runtime_error("the two sides left different schemas:\n(a)\n" +
                                             schemaOf(copyA) + "\n(b)\n" + schemaOf(copyB));
            }
            const double a = medianOf(sideA, &Measurement::seconds);
            const double b = medianOf(sideB, &Measurement::seconds);
            const double cpuA = medianOf(sideA, &Measurement::cpuSeconds);
            const double cpuB = medianOf(sideB, &Measurement::cpuSeconds);
            std::printf("%9d %10.3f %10.3f %8.3f %10.3f %10.3f %8.3f %10.1f %10.1f\n", sizes[s], a,
                        b, a / b, cpuA, cpuB, cpuA / cpuB, peakMiB(sideA), peakMiB(sideB));
            std::fflush(stdout);
        }
        std::printf("load average after: %s\n", loadAverage().c_str());
        fs::remove(copyA);
        fs::remove(copyB);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_RunBench: %s\n", e.what());
        return 1;
    }
    return 0;
}
