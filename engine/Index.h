#pragma once
// An index of a table: new (its properties and field list writable until the index is
// appended) or existing (read-only). Name, Primary, Unique, Required, IgnoreNulls, Clustered,
// Fields, CreateField(name).

#include "engine/EngineObject.h"
#include "engine/Schema.h"

namespace engine {

class Index : public EngineObject {
public:
    Index(std::shared_ptr<ErrorLog> log, IndexDef def, bool appended);

    const IndexDef& def() const { return def_; }
    bool appended() const { return appended_; }
    // Makes the index read-only: it now belongs to a table.
    void markAppended() { appended_ = true; }

private:
    void requireNew(const char* property) const;
    automation::ObjectRef fields();
    // A Boolean property backed by `flag`.
    void flag(const char* name, bool IndexDef::*flag);

    IndexDef def_;
    bool appended_ = false;
};

} // namespace engine
