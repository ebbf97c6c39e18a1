#pragma once
// A base for automation objects whose members are listed in a table: each member has a name,
// an accepted argument count, an optional reader (answers both get and call) and an optional
// writer. Dispatcher does the name lookup and the argument-count check, and turns any failure
// into an Error after telling the object through failed().

#include "automation/Error.h"
#include "automation/Object.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace automation {

class Dispatcher : public Object {
public:
    using Reader = std::function<Variant(std::span<const Variant> args)>;
    using Writer = std::function<void(std::span<const Variant> args, const Variant& value)>;

    Variant invoke(std::string_view member, CallKind kind, std::span<const Variant> args) final;

protected:
    // `source` names this kind of object in errors it raises itself ("DAO.Field"...).
    explicit Dispatcher(std::string source) : source_(std::move(source)) {}

    // Adds a member readable with minArgs..maxArgs arguments (get and call alike).
    void method(std::string name, int minArgs, int maxArgs, Reader read);
    // Adds a property: readable with no argument, writable with one value when `write` is set.
    void property(std::string name, std::function<Variant()> read, Writer write = {});
    // A member answered when the object itself is indexed ("list(0)" is "list.Item(0)").
    void setDefaultMember(std::string name) { defaultMember_ = std::move(name); }

    // Called with every error a member raises, before it leaves invoke(); the engine uses it to
    // fill its error list. The default does nothing.
    virtual void failed(const Error& error);

    const std::string& source() const { return source_; }

private:
    struct Member {
        std::string name;
        int minArgs = 0;
        int maxArgs = 0;
        Reader read;
        Writer write;
    };
    const Member* find(std::string_view name) const;
    Variant dispatch(std::string_view member, CallKind kind, std::span<const Variant> args);

    std::string source_;
    std::string defaultMember_;
    std::vector<Member> members_;
};

// Equality without regard to case in any alphabet (compareFolded() of CaseFold.h): the rule for
// the names of members and of database objects.
bool sameName(std::string_view a, std::string_view b);

// Argument helpers for member implementations: each raises a type-mismatch Error naming the
// member when the argument cannot be taken as asked.
std::string argText(std::span<const Variant> args, std::size_t i);
std::int32_t argInt(std::span<const Variant> args, std::size_t i);
bool argBool(std::span<const Variant> args, std::size_t i);

} // namespace automation
