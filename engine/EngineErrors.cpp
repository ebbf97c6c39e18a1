#include "engine/EngineErrors.h"

#include "automation/Error.h"

namespace engine {

void raise(long number, std::string description) {
    throw automation::Error(number, std::move(description), "DAO.Database");
}

void raiseTooManyLevels(int maxLevels) {
    raise(errors::TooManyTransactions,
          "Невозможно начать транзакцию: слишком много вложенных транзакций (не более " +
              std::to_string(maxLevels) + ").");
}

void raiseNothingToCommit() {
    raise(errors::NoTransaction,
          "Попытка завершить транзакцию без предварительного начала транзакции.");
}

void raiseNothingToRollBack() {
    raise(errors::NoTransaction,
          "Попытка отменить транзакцию без предварительного начала транзакции.");
}

std::string quoted(const std::string& name) {
    return "«" + name + "»";
}

} // namespace engine
