#pragma once
// What a check found: faults by name (a short kebab-case kind the tests and the operator can
// rely on, and a sentence saying where), and notes on what was not checked.

#include <string>
#include <vector>

namespace check {

struct Fault {
    std::string kind;   // e.g. "index-key-mismatch"
    std::string detail; // where and what
};

struct Report {
    std::vector<Fault> faults;
    std::vector<std::string> notes; // what was checked, and what could not be

    void fault(std::string kind, std::string detail) {
        faults.push_back({std::move(kind), std::move(detail)});
    }
    void note(std::string text) { notes.push_back(std::move(text)); }
    bool sound() const { return faults.empty(); }
};

// A file the checker cannot read at all (missing, not a database of a known format).
struct Unreadable {
    std::string reason;
};

} // namespace check
