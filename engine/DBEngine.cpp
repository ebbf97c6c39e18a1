#include "engine/DBEngine.h"

#include "engine/Collection.h"
#include "engine/EngineErrors.h"
#include "engine/ErrorItem.h"
#include "engine/Workspace.h"

namespace engine {

using automation::Variant;

DBEngine::DBEngine() : EngineObject("DAO.DBEngine", std::make_shared<ErrorLog>()) {
    property("Version", [] { return Variant("3.6"); });
    property(
        "DefaultType", [this] { return Variant(defaultType_); },
        [this](std::span<const Variant>, const Variant& v) { defaultType_ = v.toInt(); });
    method("Workspaces", 1, 1, [this](std::span<const Variant> args) {
        const Variant& key = args[0];
        bool first = (key.kind() == Variant::Kind::Int || key.kind() == Variant::Kind::Double) &&
                     key.toDouble() == 0;
        if (!first)
            raise(errors::ItemNotFound, "Рабочая область " + key.describe() +
                                            " не найдена: есть только рабочая область 0.");
        if (!workspace_)
            workspace_ = std::make_shared<Workspace>(errorLog());
        return Variant(workspace_);
    });
    method("Errors", 0, 1, [this](std::span<const Variant> args) {
        automation::ObjectRef list = makeErrorList(errorLog());
        if (args.empty())
            return Variant(list);
        return Variant(std::static_pointer_cast<Collection>(list)->item(args[0]));
    });
}

} // namespace engine
