#pragma once
// A field: a column of a table (new, before it is appended, or existing), a column named in an
// index, or a column of a recordset. Name, Type, Size, Required and AllowZeroLength are writable
// until the field is appended, read-only afterwards; Value is read from a recordset's current
// row.

#include "engine/EngineObject.h"
#include "engine/Schema.h"

#include <cstddef>

namespace engine {

class Recordset;

class Field : public EngineObject {
public:
    // A column definition; `appended` marks one that is already part of a table or index.
    Field(std::shared_ptr<ErrorLog> log, ColumnDef def, bool appended);
    // Column `column` of `recordset`, described by `def`.
    Field(std::shared_ptr<ErrorLog> log, ColumnDef def, std::shared_ptr<Recordset> recordset,
          std::size_t column);

    const ColumnDef& def() const { return def_; }
    bool appended() const { return appended_; }
    // Makes the properties read-only: the field now belongs to a table or an index.
    void markAppended() { appended_ = true; }

private:
    void addMembers();
    // Raises 3219 naming `property` once the field is appended.
    void requireNew(const char* property) const;

    ColumnDef def_;
    bool appended_ = false;
    std::shared_ptr<Recordset> recordset_;
    std::size_t column_ = 0;
};

} // namespace engine
