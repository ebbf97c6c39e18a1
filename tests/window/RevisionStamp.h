#pragma once
// The revision stamp of a shop database, as the window's tests read it after a run.

#include "engine/Store.h"
#include "engine/sql/JetSql.h"

#include <string>

namespace windowtest {

// The AValue of param's "patch" row, or a text saying there is not exactly one such row.
inline std::string stampOf(const std::string& path) {
    const auto store = engine::Store::open(path, true);
    const engine::ResultSet rows =
        engine::jet::query(*store, "SELECT AValue FROM param WHERE ID = 'patch'");
    return rows.rows.size() == 1 ? rows.rows[0][0].toText() : "<no single stamp row>";
}

} // namespace windowtest
