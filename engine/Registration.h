#pragma once
// Makes the engine creatable by its ProgID.

namespace engine {

inline constexpr const char* ProgId = "DAO.PrivateDBEngine.36";

// Registers the engine's factory under ProgId (each creation yields a new engine object).
void registerEngine();

} // namespace engine
