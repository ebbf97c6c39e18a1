#pragma once
// An automation object: anything that answers late-bound calls by member name.

#include "automation/Variant.h"

#include <memory>
#include <span>
#include <string_view>

namespace automation {

enum class CallKind { Get, Put, Call };

class Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;

    // Runs `member` (matched without regard to case). For Put the last argument is the value
    // written. Raises Error on an unknown member, a wrong argument count or kind, or a failure.
    virtual Variant invoke(std::string_view member, CallKind kind, std::span<const Variant> args) = 0;
};

} // namespace automation
