#include "engine/Registration.h"

#include "automation/Registry.h"
#include "engine/DBEngine.h"

namespace engine {

void registerEngine() {
    automation::registerClass(ProgId, [] { return std::make_shared<DBEngine>(); });
}

} // namespace engine
