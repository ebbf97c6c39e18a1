#include "engine/Workspace.h"

#include "engine/Database.h"
#include "engine/EngineErrors.h"

namespace engine {

using automation::Variant;

Workspace::Workspace(std::shared_ptr<ErrorLog> log)
    : EngineObject("DAO.Workspace", std::move(log)) {
    property("Name", [] { return Variant("#Default Workspace#"); });
    // OpenDatabase(path [, options [, readOnly [, connect]]]): the options and the connect
    // string change nothing here; a file the process may not write opens read-only anyway.
    method("OpenDatabase", 1, 4, [this](std::span<const Variant> args) {
        std::string path = automation::argText(args, 0);
        bool readOnly = args.size() > 2 && automation::argBool(args, 2);
        return attach(Store::open(path, readOnly));
    });
    // CreateDatabase(path [, locale [, options]]): a new, empty database, opened: an Access
    // 2000-2003 file when the options ask for that version (dbVersion40), else the SQLite store.
    // The locale changes nothing here: text is UTF-8 and compared byte by byte.
    method("CreateDatabase", 1, 3, [this](std::span<const Variant> args) {
        constexpr std::int32_t Version40 = 64;
        const bool jet4 = args.size() > 2 && (automation::argInt(args, 2) & Version40) != 0;
        return attach(Store::create(automation::argText(args, 0),
                                    jet4 ? Store::Format::Jet4 : Store::Format::Sqlite));
    });
    method("BeginTrans", 0, 0, [this](std::span<const Variant>) {
        if (depth_ >= Store::MaxLevels)
            raiseTooManyLevels(Store::MaxLevels);
        std::vector<std::shared_ptr<Session>> begun;
        try {
            for (const auto& session : openSessions()) {
                session->store().begin();
                begun.push_back(session);
            }
        } catch (...) {
            for (const auto& session : begun)
                session->store().rollback();
            throw;
        }
        ++depth_;
        return Variant();
    });
    method("CommitTrans", 0, 1, [this](std::span<const Variant>) {
        if (depth_ == 0)
            raiseNothingToCommit();
        for (const auto& session : openSessions())
            if (session->store().depth() > 0)
                session->store().commit();
        --depth_;
        return Variant();
    });
    method("Rollback", 0, 0, [this](std::span<const Variant>) {
        if (depth_ == 0)
            raiseNothingToRollBack();
        for (const auto& session : openSessions())
            if (session->store().depth() > 0)
                session->store().rollback();
        --depth_;
        return Variant();
    });
    method("Close", 0, 0, [this](std::span<const Variant>) {
        for (const auto& session : openSessions())
            session->close();
        sessions_.clear();
        depth_ = 0;
        return Variant();
    });
}

Variant Workspace::attach(std::shared_ptr<Store> store) {
    // A database opened inside levels joins them, so a rollback undoes its changes too.
    for (int i = 0; i < depth_; ++i)
        store->begin();
    auto session = std::make_shared<Session>(store);
    sessions_.push_back(session);
    return Variant(std::make_shared<Database>(session, errorLog(), store->path()));
}

std::vector<std::shared_ptr<Session>> Workspace::openSessions() {
    std::vector<std::shared_ptr<Session>> open;
    std::vector<std::weak_ptr<Session>> kept;
    for (const auto& weak : sessions_)
        if (auto session = weak.lock(); session && session->isOpen()) {
            open.push_back(session);
            kept.push_back(weak);
        }
    sessions_ = std::move(kept);
    return open;
}

} // namespace engine
