#include "engine/EngineErrors.h"

#include "automation/Error.h"

namespace engine {

void raise(long number, std::string description) {
    throw automation::Error(number, std::move(description), "DAO.Database");
}

std::string quoted(const std::string& name) {
    return "«" + name + "»";
}

} // namespace engine
