#include "support/ForwardingEngine.h"

#include "automation/Object.h"
#include "engine/Registration.h"

#include <vector>

namespace testsupport {

using automation::Variant;

struct ForwardingEngine::State {
    long calls = 0;
    BeforeCall beforeCall;
};

namespace {

class Wrapper : public automation::Object {
public:
    Wrapper(std::shared_ptr<ForwardingEngine::State> state, automation::ObjectRef real)
        : state_(std::move(state)), real_(std::move(real)) {}

    static Variant wrap(const std::shared_ptr<ForwardingEngine::State>& state, Variant value) {
        if (!value.isObject())
            return value;
        return Variant(std::make_shared<Wrapper>(state, value.object()));
    }

    Variant invoke(std::string_view member, automation::CallKind kind,
                   std::span<const Variant> args) override {
        const long serial = ++state_->calls;
        if (state_->beforeCall)
            state_->beforeCall(serial);
        // The real objects accept only their own kind as arguments (a field appended to a
        // table, an index to its table's list).
        std::vector<Variant> real;
        real.reserve(args.size());
        for (const Variant& arg : args) {
            auto* wrapped = arg.isObject() ? dynamic_cast<Wrapper*>(arg.object().get()) : nullptr;
            real.push_back(wrapped ? Variant(wrapped->real_) : arg);
        }
        return wrap(state_, real_->invoke(member, kind, real));
    }

private:
    std::shared_ptr<ForwardingEngine::State> state_;
    automation::ObjectRef real_;
};

} // namespace

ForwardingEngine::ForwardingEngine(automation::Factory real, BeforeCall beforeCall)
    : state_(std::make_shared<State>(State{0, std::move(beforeCall)})),
      registration_(engine::ProgId,
                    [state = state_, real = std::move(real)]() -> automation::ObjectRef {
                        automation::ObjectRef engine = real();
                        if (!engine)
                            return nullptr;
                        return std::make_shared<Wrapper>(state, engine);
                    }) {}

ForwardingEngine::~ForwardingEngine() = default;

long ForwardingEngine::calls() const {
    return state_->calls;
}

} // namespace testsupport
