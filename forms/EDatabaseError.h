#pragma once
// The error a run raises when the database cannot be opened or cannot be changed; it carries only
// its message, which the event loop shows to the operator.

#include <stdexcept>
#include <string>

class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};
