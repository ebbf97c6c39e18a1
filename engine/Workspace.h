#pragma once
// The engine's default workspace: OpenDatabase(path [, options [, readOnly]]),
// CreateDatabase(path), and the transaction
// levels it applies to every database it has open (BeginTrans, CommitTrans, Rollback; at most
// Store::MaxLevels), Close.

#include "engine/EngineObject.h"
#include "engine/Session.h"

#include <vector>

namespace engine {

class Workspace : public EngineObject {
public:
    explicit Workspace(std::shared_ptr<ErrorLog> log);

private:
    // Wraps a newly opened store as a database object of this workspace.
    automation::Variant attach(std::shared_ptr<Store> store);
    // The sessions of databases still open; forgets closed and released ones.
    std::vector<std::shared_ptr<Session>> openSessions();

    std::vector<std::weak_ptr<Session>> sessions_;
    int depth_ = 0;
};

} // namespace engine
