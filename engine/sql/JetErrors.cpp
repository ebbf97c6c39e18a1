#include "engine/sql/JetErrors.h"

#include "engine/EngineErrors.h"
#include "engine/sql/JetLexer.h"

#include <string>

namespace engine::jet {

namespace {

// Text from the statement as the operator may see it quoted: malformed bytes shown as '?' and
// control characters as blanks, cut at a character boundary so the description stays short and
// well-formed whatever bytes the statement held.
std::string printable(std::string_view text) {
    constexpr std::size_t MaxBytes = 120;
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        std::string_view piece = text.substr(i, length);
        if (out.size() + piece.size() > MaxBytes) {
            out += "...";
            break;
        }
        if (length == 1 && (c < 0x20 || c == 0x7F)) {
            out += ' ';
            i += 1;
        } else if (isValidUtf8(piece)) {
            out += piece;
            i += piece.size();
        } else {
            out += '?';
            i += 1;
        }
    }
    return out;
}

const char* syntaxDescription(long number) {
    switch (number) {
    case errors::SyntaxCreateTable:
        return "Синтаксическая ошибка в инструкции CREATE TABLE.";
    case errors::SyntaxCreateIndex:
        return "Синтаксическая ошибка в инструкции CREATE INDEX.";
    case errors::SyntaxFieldDefinition:
        return "Синтаксическая ошибка в определении поля.";
    case errors::SyntaxAlterTable:
        return "Синтаксическая ошибка в инструкции ALTER TABLE.";
    case errors::SyntaxDropIndex:
        return "Синтаксическая ошибка в инструкции DROP INDEX.";
    case errors::SyntaxDropTable:
        return "Синтаксическая ошибка в инструкции DROP TABLE или DROP INDEX.";
    case errors::SyntaxInsert:
        return "Синтаксическая ошибка в инструкции INSERT INTO.";
    case errors::SyntaxUpdate:
        return "Синтаксическая ошибка в инструкции UPDATE.";
    default:
        return "Недопустимая инструкция SQL; предполагалось 'DELETE', 'INSERT', 'PROCEDURE', "
               "'SELECT' или 'UPDATE'.";
    }
}

} // namespace

void raiseSyntaxError(long number, std::string_view statement) {
    if (number == errors::SyntaxQueryExpression)
        engine::raise(number, "Синтаксическая ошибка (пропущен оператор) в выражении запроса '" +
                                  printable(statement) + "'.");
    if (number != errors::SyntaxCreateTable && number != errors::SyntaxCreateIndex &&
        number != errors::SyntaxFieldDefinition && number != errors::SyntaxAlterTable &&
        number != errors::SyntaxDropIndex && number != errors::SyntaxDropTable &&
        number != errors::SyntaxInsert && number != errors::SyntaxUpdate)
        number = errors::InvalidStatement;
    engine::raise(number, syntaxDescription(number));
}

void raiseCriteriaTypeMismatch() {
    engine::raise(errors::CriteriaTypeMismatch,
                  "Несоответствие типов данных в выражении условия отбора.");
}

void raiseCannotExecuteSelect() {
    engine::raise(errors::CannotExecuteSelect, "Невозможно выполнить запрос на выборку.");
}

void raiseInvalidOperation() {
    engine::raise(engine::errors::InvalidOperation, "Недопустимая операция.");
}

void raiseTooFewParameters() {
    engine::raise(engine::errors::TooFewParameters, "Слишком мало параметров. Требуется 1.");
}

void raiseTableNotFound(std::string_view name) {
    engine::raise(engine::errors::TableNotFound,
                  "Не удается найти входную таблицу или запрос " + quoted(printable(name)) +
                      ". Убедитесь, что он существует и что его имя введено правильно.");
}

void raiseReadOnly(std::string_view name) {
    engine::raise(engine::errors::ReadOnly,
                  "Не удается обновить " + quoted(printable(name)) +
                      ". База данных или объект доступны только для чтения.");
}

} // namespace engine::jet
