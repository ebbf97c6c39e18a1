#pragma once
// The rows of a query or a table, read whole when the recordset is opened (so it holds no
// SQLite statement and never blocks a later change). RecordCount, Fields, EOF, BOF, MoveFirst,
// MoveNext, MoveLast, Close.

#include "engine/EngineObject.h"
#include "engine/Session.h"

#include <cstddef>

namespace engine {

class Recordset : public EngineObject {
public:
    Recordset(std::shared_ptr<Session> session, std::shared_ptr<ErrorLog> log, ResultSet rows);

    // Column `column` of the current row; raises 3021 without a current row, 3420 once the
    // recordset or its database is closed.
    automation::Variant value(std::size_t column) const;

private:
    void requireOpen() const;
    void requireRows() const;
    automation::ObjectRef fields();

    std::shared_ptr<Session> session_;
    ResultSet rows_;
    std::size_t position_ = 0; // == rows_.rows.size() past the last row
    bool closed_ = false;
};

} // namespace engine
