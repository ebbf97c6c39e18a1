#include "automation/Registry.h"

#include "automation/Dispatcher.h"
#include "automation/Error.h"

#include <map>
#include <mutex>

namespace automation {

namespace {

struct LessNoCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) {
                                                auto l = [](char c) {
                                                    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a'
                                                                                  : c;
                                                };
                                                return l(x) < l(y);
                                            });
    }
};

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, Factory, LessNoCase>& registry() {
    static std::map<std::string, Factory, LessNoCase> r;
    return r;
}

} // namespace

void registerClass(const std::string& progId, Factory factory) {
    std::lock_guard lock(registryMutex());
    registry()[progId] = std::move(factory);
}

void unregisterClass(std::string_view progId) {
    std::lock_guard lock(registryMutex());
    registry().erase(std::string(progId));
}

Factory registeredClass(std::string_view progId) {
    std::lock_guard lock(registryMutex());
    auto it = registry().find(std::string(progId));
    return it == registry().end() ? Factory{} : it->second;
}

Variant createOleObject(std::string_view progId) {
    Factory factory = registeredClass(progId);
    ObjectRef object = factory ? factory() : nullptr;
    if (!object)
        throw Error(errors::CannotCreateObject,
                    "Не удалось создать объект «" + std::string(progId) + "»", "Automation");
    return Variant(std::move(object));
}

ScopedRegistration::ScopedRegistration(std::string progId, Factory factory)
    : progId_(std::move(progId)), previous_(registeredClass(progId_)) {
    registerClass(progId_, std::move(factory));
}

ScopedRegistration::~ScopedRegistration() {
    if (previous_)
        registerClass(progId_, std::move(previous_));
    else
        unregisterClass(progId_);
}

long CoInitialize(void*) {
    thread_local bool initialised = false;
    if (initialised)
        return 1; // S_FALSE: already initialised on this thread
    initialised = true;
    return 0; // S_OK
}

} // namespace automation
