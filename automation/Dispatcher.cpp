#include "automation/Dispatcher.h"

#include "automation/CaseFold.h"

#include <exception>

namespace automation {

bool sameName(std::string_view a, std::string_view b) {
    return compareFolded(a, b) == 0;
}

void Dispatcher::method(std::string name, int minArgs, int maxArgs, Reader read) {
    members_.push_back({std::move(name), minArgs, maxArgs, std::move(read), {}});
}

void Dispatcher::property(std::string name, std::function<Variant()> read, Writer write) {
    Reader reader;
    if (read)
        reader = [read = std::move(read)](std::span<const Variant>) { return read(); };
    members_.push_back({std::move(name), 0, 0, std::move(reader), std::move(write)});
}

void Dispatcher::failed(const Error&) {}

const Dispatcher::Member* Dispatcher::find(std::string_view name) const {
    for (const Member& m : members_)
        if (sameName(m.name, name))
            return &m;
    return nullptr;
}

Variant Dispatcher::invoke(std::string_view member, CallKind kind, std::span<const Variant> args) {
    try {
        return dispatch(member, kind, args);
    } catch (const Error& e) {
        failed(e);
        throw;
    } catch (const std::exception& e) {
        // Nothing but Error may leave a late-bound call: callers catch that one class.
        Error wrapped(errors::Internal, std::string("Внутренняя ошибка: ") + e.what(), source_);
        failed(wrapped);
        throw wrapped;
    }
}

Variant Dispatcher::dispatch(std::string_view name, CallKind kind, std::span<const Variant> args) {
    const Member* m = find(name);
    if (!m && name.empty() && !defaultMember_.empty())
        m = find(defaultMember_);
    if (!m)
        throw Error(errors::MemberNotFound,
                    "Объект не поддерживает свойство или метод «" + std::string(name) + "»",
                    source_);
    if (kind == CallKind::Put) {
        if (!m->write)
            throw Error(errors::MemberNotFound,
                        "Свойство «" + m->name + "» доступно только для чтения", source_);
        if (args.size() != 1)
            throw Error(errors::WrongArgumentCount,
                        "Неверное число аргументов у свойства «" + m->name + "»", source_);
        m->write(args.first(args.size() - 1), args.back());
        return {};
    }
    if (!m->read)
        throw Error(errors::MemberNotFound, "Свойство «" + m->name + "» доступно только для записи",
                    source_);
    int n = static_cast<int>(args.size());
    if (n < m->minArgs || n > m->maxArgs)
        throw Error(errors::WrongArgumentCount,
                    "Неверное число аргументов у «" + m->name + "»: " + std::to_string(n), source_);
    return m->read(args);
}

std::string argText(std::span<const Variant> args, std::size_t i) {
    return args[i].toText();
}

std::int32_t argInt(std::span<const Variant> args, std::size_t i) {
    return args[i].toInt();
}

bool argBool(std::span<const Variant> args, std::size_t i) {
    return args[i].toBool();
}

} // namespace automation
