// Damaged copies of Access-made samples: the checker names each fault and exits 1, and the
// engine refuses what it cannot read with a clear error, never crashing or hanging.

#include "automation/Error.h"
#include "engine/Store.h"
#include "support/ChildProcess.h"
#include "support/JetDamage.h"
#include "support/JetSamples.h"
#include "support/TempDir.h"
#include "tools/check/Checker.h"

#include <gtest/gtest.h>

namespace {

// The kinds of the faults `report` lists, as one line for messages.
std::string kinds(const check::Report& report) {
    std::string out;
    for (const auto& fault : report.faults)
        out += fault.kind + " (" + fault.detail + "); ";
    return out;
}

// Everything the engine reads of a database, as the object model asks for it. Returns the
// engine errors raised; each must be of the damaged-file or unknown-format kind.
std::vector<long> readThroughEngine(const std::string& path) {
    std::vector<long> errors;
    auto attempt = [&](auto&& step) {
        try {
            step();
        } catch (const automation::Error& e) {
            EXPECT_TRUE(e.number() == 3049 || e.number() == 3343)
                << e.number() << " " << e.description();
            EXPECT_FALSE(e.description().empty());
            errors.push_back(e.number());
        }
    };
    std::shared_ptr<engine::Store> store;
    attempt([&] { store = engine::Store::open(path); });
    if (store)
        for (const auto& name : store->tableNames()) {
            attempt([&] { store->table(name); });
            attempt([&] { store->readTable(name); });
        }
    return errors;
}

int checkerExitStatus(const std::string& path) {
    return testsupport::runProgram({PATCH16_CHECK_PROGRAM, path}).status;
}

} // namespace

TEST(DamagedCopy, CheckerNamesEachFaultAndTheEngineRefusesWhatItCannotRead) {
    REQUIRE_JET_SAMPLES();
    const testsupport::TempDir folder;
    for (const testsupport::JetDamage& damage : testsupport::jetDamages()) {
        SCOPED_TRACE(damage.what);
        const std::string original = (*testsupport::jetSamplesFolder() / damage.sample).string();
        std::string bytes = testsupport::fileBytes(original);
        damage.apply(engine::jet4::PageFile(original), bytes);
        const std::string copy = folder.file("damaged.mdb");
        testsupport::writeFileBytes(copy, bytes);

        if (*damage.checkerFault) {
            const check::Report report = check::checkFile(copy);
            bool named = false;
            for (const auto& fault : report.faults)
                named = named || fault.kind == damage.checkerFault;
            EXPECT_TRUE(named) << "expected " << damage.checkerFault << ", got " << kinds(report);
            EXPECT_EQ(checkerExitStatus(copy), 1);
        } else {
            EXPECT_THROW(check::checkFile(copy), check::Unreadable);
            EXPECT_EQ(checkerExitStatus(copy), 2);
        }

        const std::vector<long> errors = readThroughEngine(copy);
        if (damage.engineRefuses) {
            EXPECT_FALSE(errors.empty());
        }
        EXPECT_EQ(testsupport::fileBytes(copy), bytes); // read, never written
    }
}
