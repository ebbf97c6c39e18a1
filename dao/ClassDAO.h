#pragma once
// TzelDAO: the program's one connection to the database engine. It starts the engine, takes its
// default workspace, opens and closes one database by path, reports the engine's errors to the
// operator, probes tables and columns, and adds columns, removes columns and creates indexes,
// each change inside engine transaction levels of its own. Every engine member is called
// late-bound by name.
//
// Transaction levels of the schema changes (AddField, DeleteField, CreateIndex): a change counts
// the levels it has opened itself and that are still open. When a step fails it rolls back
// exactly those, innermost first (none when its first BeginTrans failed), so levels that the
// caller holds open around the call are never ended by it; it then returns false. The engine's
// error list still describes the failure afterwards.
//
// A Rollback that the engine refuses while a change handles its own failure can only mean the
// engine is broken: every level rolled back is one the change itself opened and saw open. Such
// an error is not swallowed: it leaves the change (after the change has released its engine
// objects), so that the caller cannot go on to commit an enclosing level over a change that is
// half undone. Likewise an error while CreateIndex reads the error list for its report leaves
// CreateIndex, but only after its own levels have been rolled back.

#include "automation/Variant.h"

#include <cstdint>
#include <string>
#include <vector>

class TzelDAO {
public:
    // Initialises automation for the thread and starts the engine registered under
    // "DAO.PrivateDBEngine.36" with Jet workspaces. Never throws and shows nothing: a missing or
    // failing engine leaves the object not ready, and every OpenBase then returns false.
    TzelDAO();
    // Closes the open database and releases the engine references. An error from closing is
    // swallowed once everything held has been released: a destructor must not throw.
    ~TzelDAO();
    TzelDAO(const TzelDAO&) = delete;
    TzelDAO& operator=(const TzelDAO&) = delete;

private:
    bool Ready = false; // the engine and its default workspace were obtained; never cleared

public:
    bool Opened = false; // a database is open through this object (exactly when Database holds one)

private:
    automation::Variant DBEngine; // the engine object; empty when it could not be created

public:
    automation::Variant Database;  // the open database; empty when none is open
    automation::Variant Workspace; // the engine's default workspace (Workspaces(0))

    // True once the constructor obtained the engine and its default workspace.
    bool ready() const { return Ready; }

    // Opens the database file at Path, closing an open one first (an error while closing leaves
    // this call). When the engine refuses the path, shows "number : description : source" of the
    // last entry of the engine's error list (empty text for an empty list) in a box captioned
    // "ForceError". Returns Opened; false at once, without any call, when the engine is not ready.
    bool OpenBase(const std::string& Path);
    // Closes the open database, if any; afterwards Database is empty and Opened false. A failing
    // Close leaves this call with Database and Opened unchanged.
    void CloseBase();
    // Shows the descriptions of the engine's error list, each followed by "\r\n", in one plain
    // message box (an empty box for an empty list). Errors while reading the list leave this call.
    void ShowErrors();

    // The description of the last entry of the engine's error list: why the last failing engine
    // call failed. Empty when the list is empty or cannot be read.
    std::string LastErrorDescription() const;
    // True when the open database has a table named Table; false for any failure, silently.
    bool TableExists(const std::string& Table);
    // True when the table definition TableDef has a column named Field; false for any failure.
    bool FieldExists(const automation::Variant& TableDef, const std::string& Field);

    // Adds the column Field of engine type FieldType to Table: Size written only when > 0,
    // AllowZeroLength only for text (10), Required as !Nullable; then, when FillValue is not
    // empty, runs "UPDATE <Table> set <Field>=<FillValue>" with the fail-on-error option. An
    // existing column is left untouched. True when the column is in place, false after a handled
    // failure (nothing shown).
    bool AddField(const std::string& Table, const std::string& Field, std::int32_t FieldType,
                  std::int32_t Size, const std::string& FillValue, bool AllowZeroLength,
                  bool Nullable);
    // Removes the column Field of Table (a missing column is a failure). True when removed, false
    // after a handled failure (nothing shown).
    bool DeleteField(const std::string& Table, const std::string& Field);
    // Creates the index IndexName on Table over IndexColumns in key order, with the five flags.
    // True when created; on failure shows the engine's errors (ShowErrors) and returns false.
    bool CreateIndex(const std::string& Table, const std::string& IndexName,
                     const std::vector<std::string>& IndexColumns, bool Primary, bool Unique,
                     bool Required, bool IgnoreNulls, bool Clustered);
};
