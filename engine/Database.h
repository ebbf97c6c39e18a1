#pragma once
// An open database: Execute(sql [, options]), RecordsAffected, OpenRecordset(sql or table
// [, type [, options]]), TableDefs([name]), CreateTableDef([name]), Close, Name. Closing it, or
// releasing the last reference to it, rolls back the levels still open and closes the file.

#include "engine/EngineObject.h"
#include "engine/Session.h"

namespace engine {

class Database : public EngineObject {
public:
    Database(std::shared_ptr<Session> session, std::shared_ptr<ErrorLog> log, std::string name);
    ~Database() override;

    const std::shared_ptr<Session>& session() const { return session_; }

private:
    std::shared_ptr<Session> session_;
    std::string name_;
    std::int32_t recordsAffected_ = 0;
};

} // namespace engine
