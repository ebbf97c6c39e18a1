#pragma once
// A table definition: an existing table of the open database (known by name, read afresh at
// every call) or a new one built with CreateField/CreateIndex and created by TableDefs.Append.
// Name, Fields, Indexes, CreateField(name [, type [, size]]), CreateIndex(name), RecordCount.

#include "engine/EngineObject.h"
#include "engine/Session.h"

#include <vector>

namespace engine {

class Field;
class Index;

class TableDef : public EngineObject {
public:
    // `appended`: the table `name` exists in the database; otherwise a new, empty definition.
    TableDef(std::shared_ptr<Session> session, std::shared_ptr<ErrorLog> log, std::string name,
             bool appended);

    bool appended() const { return appended_; }
    // Creates the new table with its fields and indexes in the database (TableDefs.Append).
    void create();

private:
    TableSchema existing() const; // raises 3265 when the table is gone
    automation::ObjectRef fields();
    automation::ObjectRef indexes();

    std::shared_ptr<Session> session_;
    std::string name_;
    bool appended_ = false;
    std::vector<std::shared_ptr<Field>> newFields_;
    std::vector<std::shared_ptr<Index>> newIndexes_;
};

// The database's table list (Count, Refresh, Item, Append, Delete) over `session`.
automation::ObjectRef makeTableDefs(const std::shared_ptr<Session>& session,
                                    const std::shared_ptr<ErrorLog>& log);

} // namespace engine
