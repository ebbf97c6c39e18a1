#pragma once
// One open database as the object model shares it: the database object and everything reached
// through it (tables, fields, indexes, recordsets) hold the session, and all of them stop
// working, with a clear error, once the database is closed.

#include "engine/Store.h"

#include <memory>

namespace engine {

class Session {
public:
    explicit Session(std::shared_ptr<Store> store) : store_(std::move(store)) {}

    // The open store; raises 3420 (object invalid) once the database is closed.
    Store& store() const;
    bool isOpen() const { return store_ != nullptr; }
    // Rolls back every open level and closes the file; harmless when already closed.
    void close() { store_.reset(); }

private:
    std::shared_ptr<Store> store_;
};

} // namespace engine
