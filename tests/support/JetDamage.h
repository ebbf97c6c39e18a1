#pragma once
// Damaged copies of the Access-made samples, as the reader's, the checker's and the engine's
// tests make them: each names what it breaks, the sample it starts from, how it changes the
// bytes, and what must notice.

#include "engine/jet4/file/PageFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct JetDamage {
    const char* what;
    const char* sample; // relative to the samples folder
    // The fault kind the checker must report; empty when it cannot read the copy at all.
    const char* checkerFault;
    // True when reading every table, row and index page raises the reader's FormatError;
    // false for damage only a check of the structures against each other can see.
    bool readerRefuses;
    // True when the engine, which reads tables and rows but no index page, must refuse it.
    bool engineRefuses;
    // Damages `bytes`, the sample's content; `file` is the undamaged sample, to find places.
    std::function<void(const engine::jet4::PageFile& file, std::string& bytes)> apply;
};

const std::vector<JetDamage>& jetDamages();

// The first leaf page of the first physical index of the user table `table`.
std::uint32_t firstIndexLeaf(const engine::jet4::PageFile& file, const std::string& table);

} // namespace testsupport
