#pragma once
// The base of every engine object: its failures replace the engine's error list, and errors
// raised below it carry this object's source ("DAO.Database"...), as the caller called it.

#include "automation/Dispatcher.h"

#include <memory>
#include <string>
#include <vector>

namespace engine {

struct ErrorRecord {
    long number = 0;
    std::string description;
    std::string source;
};

// The engine's error list, shared by every object that one engine object made.
struct ErrorLog {
    std::vector<ErrorRecord> entries; // of the last failing call, in order
};

class EngineObject : public automation::Dispatcher {
public:
    // The error list this object reports to.
    const std::shared_ptr<ErrorLog>& errorLog() const { return log_; }

protected:
    EngineObject(std::string source, std::shared_ptr<ErrorLog> log);

    // As Dispatcher's, with every error the member raises re-labelled with this object's source.
    void method(std::string name, int minArgs, int maxArgs, Reader read);
    void property(std::string name, std::function<automation::Variant()> read, Writer write = {});

    // Replaces the error list with `error`.
    void failed(const automation::Error& error) override;

private:
    std::shared_ptr<ErrorLog> log_;
};

} // namespace engine
