#pragma once
// The engine object created by the ProgID: DefaultType, Workspaces(0), Errors([index]),
// Version. Every object reached from it shares its error list.

#include "engine/EngineObject.h"

namespace engine {

class Workspace;

class DBEngine : public EngineObject {
public:
    DBEngine();

private:
    std::shared_ptr<Workspace> workspace_; // made on first use
    std::int32_t defaultType_ = 2;         // Jet workspaces
};

} // namespace engine
