#pragma once
// Creation of automation objects by ProgID, and the stand-in for COM initialisation.

#include "automation/Variant.h"

#include <functional>
#include <string>
#include <string_view>

namespace automation {

using Factory = std::function<ObjectRef()>;

// Registers (or replaces) the factory for `progId`; ProgIDs match without regard to case.
void registerClass(const std::string& progId, Factory factory);
// Removes the factory for `progId`, if any.
void unregisterClass(std::string_view progId);
// The factory registered for `progId`, or an empty function.
Factory registeredClass(std::string_view progId);

// Creates an object through its registered factory. Raises Error (number 429) for an unknown
// ProgID or a factory that yields nothing.
Variant createOleObject(std::string_view progId);

// Replaces the factory for a ProgID for the life of this object and puts the previous one back.
class ScopedRegistration {
public:
    ScopedRegistration(std::string progId, Factory factory);
    ~ScopedRegistration();
    ScopedRegistration(const ScopedRegistration&) = delete;
    ScopedRegistration& operator=(const ScopedRegistration&) = delete;

private:
    std::string progId_;
    Factory previous_;
};

// Prepares the calling thread for automation. Callable any number of times; always succeeds
// here (0 the first time on a thread, 1 afterwards, like the original).
long CoInitialize(void* reserved);

} // namespace automation
