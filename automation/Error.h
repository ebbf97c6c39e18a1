#pragma once
// The one error class of the automation layer: a failing late-bound call raises it with the
// number, description and source that the called object reported.

#include <stdexcept>
#include <string>

namespace automation {

class Error : public std::runtime_error {
public:
    // `description` becomes what(); `source` names the object kind, e.g. "DAO.Database".
    Error(long number, std::string description, std::string source);

    long number() const { return number_; }
    const std::string& description() const { return description_; }
    const std::string& source() const { return source_; }

private:
    long number_;
    std::string description_;
    std::string source_;
};

// Numbers the automation layer itself raises (the values the original automation service used).
namespace errors {
inline constexpr long TypeMismatch = 13;
inline constexpr long Internal = 51;
inline constexpr long CannotCreateObject = 429;
inline constexpr long MemberNotFound = 438;
inline constexpr long WrongArgumentCount = 450;
inline constexpr long ObjectRequired = 424;
} // namespace errors

} // namespace automation
