#include "engine/Database.h"

#include "engine/Collection.h"
#include "engine/Recordset.h"
#include "engine/TableDef.h"
#include "engine/sql/JetSql.h"

namespace engine {

using automation::Variant;

Database::Database(std::shared_ptr<Session> session, std::shared_ptr<ErrorLog> log,
                   std::string name)
    : EngineObject("DAO.Database", std::move(log)), session_(std::move(session)),
      name_(std::move(name)) {
    property("Name", [this] { return Variant(name_); });
    // The options (128, fail on error, among them) change nothing: every statement is atomic
    // and every failure is raised.
    method("Execute", 1, 2, [this](std::span<const Variant> args) {
        std::string sql = automation::argText(args, 0);
        if (args.size() > 1)
            automation::argInt(args, 1);
        recordsAffected_ = jet::execute(session_->store(), sql);
        return Variant();
    });
    property("RecordsAffected", [this] { return Variant(recordsAffected_); });
    method("OpenRecordset", 1, 4, [this](std::span<const Variant> args) {
        std::string source = automation::argText(args, 0);
        ResultSet rows = jet::query(session_->store(), source);
        return Variant(std::make_shared<Recordset>(session_, errorLog(), std::move(rows)));
    });
    method("TableDefs", 0, 1, [this](std::span<const Variant> args) {
        session_->store();
        automation::ObjectRef list = makeTableDefs(session_, errorLog());
        if (args.empty())
            return Variant(list);
        return Variant(std::static_pointer_cast<Collection>(list)->item(args[0]));
    });
    method("CreateTableDef", 0, 1, [this](std::span<const Variant> args) {
        session_->store();
        std::string name = args.empty() ? std::string() : automation::argText(args, 0);
        return Variant(std::make_shared<TableDef>(session_, errorLog(), name, false));
    });
    method("Close", 0, 0, [this](std::span<const Variant>) {
        session_->store(); // closing twice is refused, as the original engine did
        session_->close();
        return Variant();
    });
}

Database::~Database() {
    session_->close();
}

} // namespace engine
