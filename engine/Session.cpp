#include "engine/Session.h"

#include "engine/EngineErrors.h"

namespace engine {

Store& Session::store() const {
    if (!store_)
        raise(errors::ObjectInvalid,
              "Объект недопустим или больше не установлен: база данных закрыта.");
    return *store_;
}

} // namespace engine
