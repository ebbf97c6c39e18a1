#pragma once
// The catalog rows that name a user table, written as Access writes them, inside the caller's
// transaction level:
//   - MSysObjects gets one row: Id = the table's definition page, ParentId = the Id of the
//     "Tables" container, Name, Type 1, DateCreate = DateUpdate = now, Owner = the owner of the
//     MSysDb row, Flags 0, LvProp = the table's property blob (Required, AllowZeroLength...);
//   - MSysACEs gets one row per account with full rights on the "Tables" container (its
//     inheritable rows with ACM 0xFFEFF): ObjectId = the new Id, that SID, ACM 0xFFFFF (every
//     right), not inheritable;
//   - the indexes of both tables are rebuilt from their rows, so each holds the new entries
//     (MSysObjects' ParentIdName index has a text key: a catalog in a sort order other than
//     General raises IndexKeyError before a key is written).

#include "engine/jet4/file/PageFile.h"

#include <cstdint>
#include <optional>
#include <string>

namespace engine::jet4 {

// Adds the catalog rows of user table `id` called `name`. `now` is the local time as days since
// 1899-12-30. FormatError when the catalog lacks a column these rows need or the container.
void addTableToCatalog(PageFile& file, std::uint32_t id, const std::u16string& name,
                       const std::optional<std::string>& properties, double now);

// Deletes the catalog rows of table `id` (its MSysObjects row and its MSysACEs rows) and
// rebuilds both tables' indexes. FormatError when there is no such row.
void removeTableFromCatalog(PageFile& file, std::uint32_t id);

// Replaces the property blob of the catalog row with Id `id` (none: Null) and sets its
// DateUpdate to `now`. FormatError when there is no such row.
void setTableProperties(PageFile& file, std::uint32_t id,
                        const std::optional<std::string>& properties, double now);

} // namespace engine::jet4
