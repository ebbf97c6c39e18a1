#pragma once
// The one error the Jet 4 reader raises for a file whose structure is damaged or not what an
// Access 2000-2003 file holds: a bad page type, an offset past its page, a pointer past the end of
// the file, a chain that loops, an impossible count. The message is plain English naming the
// structure and the page; the engine maps it to its own error for the operator.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace engine::jet4 {

class FormatError : public std::runtime_error {
public:
    // page() of an error that concerns the file as a whole rather than one page.
    static constexpr std::uint32_t NoPage = 0xFFFFFFFF;

    // `what` describes the fault; the page number is prefixed to the message unless NoPage.
    FormatError(std::uint32_t page, const std::string& what)
        : std::runtime_error(page == NoPage ? what : "page " + std::to_string(page) + ": " + what),
          page_(page) {}

    // The page at fault, or NoPage.
    std::uint32_t page() const { return page_; }

private:
    std::uint32_t page_;
};

} // namespace engine::jet4
