#pragma once
// One entry of the engine's error list: Number, Description and Source, read-only.

#include "engine/EngineObject.h"

namespace engine {

class ErrorItem : public EngineObject {
public:
    ErrorItem(std::shared_ptr<ErrorLog> log, ErrorRecord record);

private:
    ErrorRecord record_;
};

// The engine's error list as a list object (Count, Refresh, Item), read live from `log`.
automation::ObjectRef makeErrorList(const std::shared_ptr<ErrorLog>& log);

} // namespace engine
