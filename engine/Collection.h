#pragma once
// A list of engine objects (tables, fields, indexes, errors): Count, Refresh, Item by index
// from 0 or by name (case ignored) as its default member, and Append and Delete where the list
// takes them. The list reads its items afresh at every call, so it never shows stale content.

#include "engine/EngineObject.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace engine {

class Collection : public EngineObject {
public:
    using Items = std::vector<std::pair<std::string, automation::ObjectRef>>;
    struct Backend {
        std::function<Items()> items;                           // name and object, in list order
        std::function<void(const automation::Variant&)> append; // empty: no Append member
        std::function<void(const std::string&)> remove;         // empty: no Delete member
    };

    // `source` names the list in errors ("DAO.Fields").
    Collection(std::string source, std::shared_ptr<ErrorLog> log, Backend backend);

    // The item at `key` (a number: index from 0; text: name, case ignored); raises 3265.
    automation::ObjectRef item(const automation::Variant& key) const;

private:
    Backend backend_;
};

// The object model's lookup rule, for objects answering "Fields(x)" without the list:
// the item of `items` at `key`; raises 3265 naming it.
automation::ObjectRef findItem(const Collection::Items& items, const automation::Variant& key);

} // namespace engine
