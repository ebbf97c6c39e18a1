#pragma once
// A stand-in for the database engine, registered under "DAO.PrivateDBEngine.36" for its
// lifetime. It answers the members the connection and the run call (engine, error list and
// entries, workspace, database, recordset, table definitions, tables, fields, indexes) and records
// each call as one line: "Workspace.BeginTrans", "Field.Size=10", "Database.Execute(UPDATE t set
// c=0,128)". Arguments are written with their plain text, objects by their label ("Field
// MinValue").
//
// It is strict where the real engine is: a name must be passed as text, a type or size as an
// integer and a flag as a Boolean (else error 13); CommitTrans and Rollback with no level open
// fail with 3034; a missing table, column or index fails with 3265. A test can also make the
// N-th call from now, or the first call whose line starts with a given text, fail. Every failing
// call leaves one entry describing it in the engine's error list, as the real engine does.

#include "automation/Registry.h"
#include "automation/Variant.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class RecordingEngine {
public:
    // One entry of the engine's error list.
    struct ErrorEntry {
        long number = 0;
        std::string description;
        std::string source;
    };
    // What the fake database holds: column and index names per table (names match ignoring case).
    struct Table {
        std::vector<std::string> fields;
        std::vector<std::string> indexes;
    };
    struct State; // shared by the fake objects; defined with them

    static constexpr long InjectedErrorNumber = 3146;
    static constexpr long NoTransaction = 3034;
    static constexpr long ItemNotFound = 3265;
    static constexpr long IndexExists = 3284;

    // Registers the fake under the engine's ProgID; the previous registration comes back at the
    // end.
    RecordingEngine();
    ~RecordingEngine();
    RecordingEngine(const RecordingEngine&) = delete;
    RecordingEngine& operator=(const RecordingEngine&) = delete;

    // Adds (or replaces) a table of every database this engine opens.
    void addTable(const std::string& name, std::vector<std::string> fields,
                  std::vector<std::string> indexes = {});
    // The table as it is now (an empty one when there is no such table).
    Table table(const std::string& name) const;
    // True when the fake database has the table (names match ignoring case).
    bool hasTable(const std::string& name) const;
    // What every OpenRecordset answers: RecordCount, and Fields(name).Value of its first row.
    void setRecordset(std::int32_t recordCount,
                      std::vector<std::pair<std::string, automation::Variant>> firstRow);

    // Makes the n-th call from now fail (1: the next call), once.
    void failAtCall(int n);
    // Makes the first call whose recorded line starts with `linePrefix` fail, once.
    void failOn(const std::string& linePrefix);
    // Makes OpenDatabase fail for `path` every time, leaving exactly `errors` as the error list.
    void refusePath(const std::string& path, std::vector<ErrorEntry> errors);
    // Replaces the engine's error list.
    void setErrors(std::vector<ErrorEntry> errors);
    // The engine's error list as it is now.
    const std::vector<ErrorEntry>& errors() const;

    // Every call recorded so far, oldest first; clearLines() forgets them.
    const std::vector<std::string>& lines() const;
    void clearLines();
    // The serial numbers of the transaction levels open on the workspace, outermost first
    // (each BeginTrans that succeeds takes the next serial, starting at 1).
    std::vector<int> openLevels() const;
    // How many engine objects the factory has made.
    int enginesCreated() const;

private:
    std::shared_ptr<State> state_;
    automation::ScopedRegistration registration_;
};

} // namespace testsupport
