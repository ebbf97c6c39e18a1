#include "engine/Collection.h"

#include "automation/Error.h"
#include "engine/EngineErrors.h"

namespace engine {

using automation::ObjectRef;
using automation::Variant;

ObjectRef findItem(const Collection::Items& items, const Variant& key) {
    switch (key.kind()) {
    case Variant::Kind::Int:
    case Variant::Kind::Double:
    case Variant::Kind::Bool: {
        double at = key.toDouble();
        if (at >= 0 && at < static_cast<double>(items.size()))
            return items[static_cast<std::size_t>(at)].second;
        raise(errors::ItemNotFound,
              "Элемент с номером " + key.describe() +
                  " не найден в этом семействе (элементов: " + std::to_string(items.size()) + ").");
    }
    case Variant::Kind::Text:
        for (const auto& [name, object] : items)
            if (automation::sameName(name, key.toText()))
                return object;
        raise(errors::ItemNotFound,
              "Элемент " + quoted(key.toText()) + " не найден в этом семействе.");
    default:
        raise(errors::TypeMismatch,
              "Несоответствие типа: элемент семейства нельзя выбрать по " + key.describe() + ".");
    }
}

Collection::Collection(std::string source, std::shared_ptr<ErrorLog> log, Backend backend)
    : EngineObject(std::move(source), std::move(log)), backend_(std::move(backend)) {
    property("Count",
             [this] { return Variant(static_cast<std::int32_t>(backend_.items().size())); });
    // Items are read afresh at every call, so there is nothing to refresh.
    method("Refresh", 0, 0, [](std::span<const Variant>) { return Variant(); });
    method("Item", 1, 1, [this](std::span<const Variant> args) { return Variant(item(args[0])); });
    setDefaultMember("Item");
    if (backend_.append)
        method("Append", 1, 1, [this](std::span<const Variant> args) {
            backend_.append(args[0]);
            return Variant();
        });
    if (backend_.remove)
        method("Delete", 1, 1, [this](std::span<const Variant> args) {
            backend_.remove(automation::argText(args, 0));
            return Variant();
        });
}

ObjectRef Collection::item(const Variant& key) const {
    return findItem(backend_.items(), key);
}

} // namespace engine
