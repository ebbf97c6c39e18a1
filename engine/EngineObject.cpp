#include "engine/EngineObject.h"

#include "automation/Error.h"

namespace engine {

using automation::Error;
using automation::Variant;

EngineObject::EngineObject(std::string source, std::shared_ptr<ErrorLog> log)
    : Dispatcher(std::move(source)), log_(std::move(log)) {}

void EngineObject::method(std::string name, int minArgs, int maxArgs, Reader read) {
    Dispatcher::method(std::move(name), minArgs, maxArgs,
                       [this, read = std::move(read)](std::span<const Variant> args) {
                           try {
                               return read(args);
                           } catch (const Error& e) {
                               throw Error(e.number(), e.description(), source());
                           }
                       });
}

void EngineObject::property(std::string name, std::function<Variant()> read, Writer write) {
    std::function<Variant()> reader;
    if (read)
        reader = [this, read = std::move(read)]() {
            try {
                return read();
            } catch (const Error& e) {
                throw Error(e.number(), e.description(), source());
            }
        };
    Writer writer;
    if (write)
        writer = [this, write = std::move(write)](std::span<const Variant> args,
                                                  const Variant& value) {
            try {
                write(args, value);
            } catch (const Error& e) {
                throw Error(e.number(), e.description(), source());
            }
        };
    Dispatcher::property(std::move(name), std::move(reader), std::move(writer));
}

void EngineObject::failed(const Error& error) {
    log_->entries = {{error.number(), error.description(), error.source()}};
}

} // namespace engine
