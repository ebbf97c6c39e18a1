#include "automation/Error.h"

#include <utility>

namespace automation {

Error::Error(long number, std::string description, std::string source)
    : std::runtime_error(description), number_(number), description_(std::move(description)),
      source_(std::move(source)) {}

} // namespace automation
