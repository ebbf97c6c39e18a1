#include "automation/Dispatcher.h"
#include "automation/Registry.h"

#include <gtest/gtest.h>

using namespace automation;

namespace {

// A small object with a counter, a read-only property and a method with an optional argument.
class Counter : public Dispatcher {
public:
    Counter() : Dispatcher("Test.Counter") {
        property(
            "Value", [this] { return Variant(value_); },
            [this](std::span<const Variant>, const Variant& v) { value_ = v.toInt(); });
        property("Name", [] { return Variant("counter"); });
        method("Add", 1, 2, [this](std::span<const Variant> a) {
            value_ += argInt(a, 0) * (a.size() > 1 ? argInt(a, 1) : 1);
            return Variant(value_);
        });
        method("Fail", 0, 0, [](std::span<const Variant>) -> Variant {
            throw Error(3024, "Файл не найден", "Test.Counter");
        });
    }
    std::vector<long> failures;

protected:
    void failed(const Error& e) override { failures.push_back(e.number()); }

private:
    std::int32_t value_ = 0;
};

} // namespace

TEST(LateBoundCall, MembersMatchWithoutRegardToCaseAndGetEqualsCall) {
    Variant c(std::make_shared<Counter>());
    c.put("VALUE", 5);
    EXPECT_EQ(c.get("value").toInt(), 5);
    EXPECT_EQ(c.call("Value").toInt(), 5);
    EXPECT_EQ(c.call("aDD", {Variant(2), Variant(3)}).toInt(), 11);
    EXPECT_EQ(c.get("Add", {Variant(1)}).toInt(), 12);
}

TEST(LateBoundCall, RefusalsRaiseClearErrors) {
    auto counter = std::make_shared<Counter>();
    Variant c(counter);
    struct Case {
        std::function<void()> call;
        long number;
    } cases[] = {
        {[&] { c.call("Missing"); }, errors::MemberNotFound},
        {[&] { c.put("Name", "x"); }, errors::MemberNotFound},
        {[&] { c.call("Add"); }, errors::WrongArgumentCount},
        {[&] { c.call("Add", {Variant(1), Variant(2), Variant(3)}); }, errors::WrongArgumentCount},
        {[&] { c.call("Add", {Variant("abc")}); }, errors::TypeMismatch},
        {[&] { c.call("Add", {Variant::null()}); }, errors::TypeMismatch},
        {[&] { c.call("Fail"); }, 3024},
        {[&] { Variant().call("Value"); }, errors::ObjectRequired},
    };
    for (const Case& k : cases) {
        try {
            k.call();
            ADD_FAILURE() << "no error for case " << k.number;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), k.number);
            EXPECT_FALSE(e.description().empty());
        }
    }
    // Every failure but the one before any object was reached went through failed().
    EXPECT_EQ(counter->failures.size(), std::size(cases) - 1);
    EXPECT_EQ(counter->failures.back(), 3024);
}

TEST(EngineValue, ConversionsFollowTheAutomationRules) {
    EXPECT_EQ(Variant(std::int32_t(42)).toText(), "42");
    EXPECT_EQ(Variant("patch15").toText(), "patch15");
    EXPECT_EQ(Variant("12").toInt(), 12);
    EXPECT_EQ(Variant(2.5).toInt(), 2); // halves to even
    EXPECT_EQ(Variant(true).toInt(), -1);
    EXPECT_EQ(Variant().toText(), "");
    EXPECT_THROW(Variant::null().toText(), Error);
    EXPECT_THROW(Variant("1e999x").toDouble(), Error);
    EXPECT_EQ(Variant("a"), Variant(std::string("a")));
    EXPECT_FALSE(Variant("a") == Variant("A"));
    EXPECT_FALSE(Variant(std::int32_t(1)) == Variant(1.0));
}

TEST(EngineValue, ClearingReleasesTheObject) {
    auto counter = std::make_shared<Counter>();
    std::weak_ptr<Counter> watch = counter;
    Variant a(std::move(counter));
    Variant b = a;
    a.clear();
    EXPECT_FALSE(watch.expired());
    EXPECT_TRUE(a.isEmpty());
    b = Variant();
    EXPECT_TRUE(watch.expired());
}

TEST(Registry, CreatesByProgIdAndRefusesUnknownOnes) {
    EXPECT_THROW(createOleObject("No.Such.Class"), Error);
    {
        ScopedRegistration reg("Test.Counter.1", [] { return std::make_shared<Counter>(); });
        Variant c = createOleObject("test.counter.1");
        EXPECT_EQ(c.get("Name").toText(), "counter");
    }
    try {
        createOleObject("Test.Counter.1");
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errors::CannotCreateObject);
    }
    EXPECT_EQ(CoInitialize(nullptr) >= 0, true);
    EXPECT_EQ(CoInitialize(nullptr), 1);
}
