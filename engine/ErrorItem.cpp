#include "engine/ErrorItem.h"

#include "engine/Collection.h"

namespace engine {

using automation::Variant;

ErrorItem::ErrorItem(std::shared_ptr<ErrorLog> log, ErrorRecord record)
    : EngineObject("DAO.Error", std::move(log)), record_(std::move(record)) {
    property("Number", [this] { return Variant(static_cast<std::int32_t>(record_.number)); });
    property("Description", [this] { return Variant(record_.description); });
    property("Source", [this] { return Variant(record_.source); });
}

automation::ObjectRef makeErrorList(const std::shared_ptr<ErrorLog>& log) {
    Collection::Backend backend;
    backend.items = [log] {
        Collection::Items items;
        for (const ErrorRecord& r : log->entries)
            items.emplace_back(r.description, std::make_shared<ErrorItem>(log, r));
        return items;
    };
    return std::make_shared<Collection>("DAO.Errors", log, std::move(backend));
}

} // namespace engine
