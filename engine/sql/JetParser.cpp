#include "engine/sql/JetParser.h"

#include "engine/sql/JetErrors.h"
#include "engine/sql/JetStatement.h"

#include <optional>

namespace engine::jet {

namespace {

using Kind = Token::Kind;

class Parser {
public:
    Parser(std::span<const Token> tokens, long number) : tokens_(tokens), number_(number) {}

    Definition statement(StatementKind kind) {
        switch (kind) {
        case StatementKind::CreateTable:
            return createTable();
        case StatementKind::CreateIndex:
            return createIndex();
        case StatementKind::AlterTable:
            return alterTable();
        case StatementKind::DropIndex:
            return dropIndex();
        case StatementKind::DropTable:
            return dropTable();
        default:
            fail();
        }
    }

private:
    const Token& peek(std::size_t ahead = 0) const {
        const std::size_t i = pos_ + ahead;
        return i < tokens_.size() ? tokens_[i] : tokens_.back();
    }
    bool acceptKeyword(std::string_view keyword) {
        if (!isKeyword(peek(), keyword))
            return false;
        ++pos_;
        return true;
    }
    void expectKeyword(std::string_view keyword, long number = 0) {
        if (!acceptKeyword(keyword))
            fail(number);
    }
    bool acceptSymbol(std::string_view symbol) {
        if (!isSymbol(peek(), symbol))
            return false;
        ++pos_;
        return true;
    }
    void expectSymbol(std::string_view symbol, long number = 0) {
        if (!acceptSymbol(symbol))
            fail(number);
    }
    [[noreturn]] void fail(long number = 0) const { raiseSyntaxError(number ? number : number_); }

    std::string name(long number = 0) {
        const Token& token = peek();
        if (token.kind != Kind::Word && token.kind != Kind::Bracketed)
            fail(number);
        ++pos_;
        return token.text;
    }

    // An optional ';', then the end of the statement.
    void end() {
        acceptSymbol(";");
        if (peek().kind != Kind::End)
            fail();
    }

    // "( name [ASC|DESC], ... )"; the sort order is read but an index keeps key order only.
    std::vector<std::string> columnList(bool allowOrder) {
        expectSymbol("(");
        std::vector<std::string> columns;
        do {
            columns.push_back(name());
            if (allowOrder && !acceptKeyword("ASC"))
                acceptKeyword("DESC");
        } while (acceptSymbol(","));
        expectSymbol(")");
        return columns;
    }

    static std::string generatedName(const std::string& table, bool primary,
                                     const std::vector<std::string>& columns) {
        std::string name = table + (primary ? "_PK" : "_UQ");
        for (const auto& column : columns)
            name += "_" + column;
        return name;
    }

    static IndexDef keyIndex(std::string name, bool primary, std::vector<std::string> columns) {
        IndexDef index;
        index.name = std::move(name);
        index.columns = std::move(columns);
        index.primary = primary;
        index.unique = true;
        index.required = primary;
        return index;
    }

    // True when a table constraint starts here: CONSTRAINT, or an unnamed PRIMARY KEY / UNIQUE
    // followed by its column list.
    bool atTableConstraint() const {
        return isKeyword(peek(), "CONSTRAINT") ||
               (isKeyword(peek(), "PRIMARY") && isKeyword(peek(1), "KEY")) ||
               (isKeyword(peek(), "UNIQUE") && isSymbol(peek(1), "("));
    }

    // [CONSTRAINT name] PRIMARY KEY (columns) | UNIQUE (columns)
    IndexDef tableConstraint(const std::string& table) {
        std::optional<std::string> constraintName;
        if (acceptKeyword("CONSTRAINT"))
            constraintName = name();
        bool primary = false;
        if (acceptKeyword("PRIMARY")) {
            expectKeyword("KEY");
            primary = true;
        } else {
            expectKeyword("UNIQUE");
        }
        auto columns = columnList(false);
        std::string indexName =
            constraintName ? *constraintName : generatedName(table, primary, columns);
        return keyIndex(std::move(indexName), primary, std::move(columns));
    }

    // name type[(n)] [NULL | NOT NULL] and, when `table` is given (CREATE TABLE), an optional
    // [CONSTRAINT name] PRIMARY KEY | UNIQUE over the column, returned through `key`.
    ColumnDef column(const std::string* table, std::optional<IndexDef>* key) {
        ColumnDef def;
        def.name = name();
        const auto type = columnType();
        def.type = type.type;
        def.size = type.size;
        bool nullabilitySeen = false;
        while (true) {
            if (!nullabilitySeen && acceptKeyword("NULL")) {
                nullabilitySeen = true;
            } else if (!nullabilitySeen && acceptKeyword("NOT")) {
                expectKeyword("NULL", errors::SyntaxFieldDefinition);
                def.required = true;
                nullabilitySeen = true;
            } else if (table && !*key &&
                       (isKeyword(peek(), "CONSTRAINT") || isKeyword(peek(), "PRIMARY") ||
                        isKeyword(peek(), "UNIQUE"))) {
                std::optional<std::string> constraintName;
                if (acceptKeyword("CONSTRAINT"))
                    constraintName = name(errors::SyntaxFieldDefinition);
                bool primary = false;
                if (acceptKeyword("PRIMARY")) {
                    expectKeyword("KEY", errors::SyntaxFieldDefinition);
                    primary = true;
                } else {
                    expectKeyword("UNIQUE", errors::SyntaxFieldDefinition);
                }
                std::vector<std::string> columns{def.name};
                std::string indexName =
                    constraintName ? *constraintName : generatedName(*table, primary, columns);
                *key = keyIndex(std::move(indexName), primary, std::move(columns));
            } else {
                break;
            }
        }
        return def;
    }

    // A type name with an optional size, resolved by the engine's own table of type names.
    DerivedType columnType() {
        const Token& typeName = peek();
        if (typeName.kind != Kind::Word)
            fail(errors::SyntaxFieldDefinition);
        ++pos_;
        std::string spelled = typeName.text;
        if (acceptSymbol("(")) {
            const Token& size = peek();
            // Digits only, and few enough that the value cannot overflow.
            if (size.kind != Kind::Number || size.text.size() > 6 ||
                size.text.find_first_not_of("0123456789") != std::string::npos)
                fail(errors::SyntaxFieldDefinition);
            ++pos_;
            expectSymbol(")", errors::SyntaxFieldDefinition);
            spelled += "(" + size.text + ")";
        }
        const auto type = jetType(spelled);
        if (!type || (type->type == FieldType::Text && (type->size < 1 || type->size > 255)))
            fail(errors::SyntaxFieldDefinition);
        return *type;
    }

    Definition createTable() {
        expectKeyword("CREATE");
        expectKeyword("TABLE");
        ddl::CreateTable create;
        create.table.name = name();
        expectSymbol("(");
        do {
            if (atTableConstraint()) {
                create.table.indexes.push_back(tableConstraint(create.table.name));
                continue;
            }
            std::optional<IndexDef> key;
            create.table.columns.push_back(column(&create.table.name, &key));
            if (key)
                create.table.indexes.push_back(std::move(*key));
            // Something other than the next element or the closing parenthesis belongs to this
            // column's definition; running out of statement is the table's fault.
            if (peek().kind == Kind::End)
                fail();
            if (!isSymbol(peek(), ",") && !isSymbol(peek(), ")"))
                fail(errors::SyntaxFieldDefinition);
        } while (acceptSymbol(","));
        expectSymbol(")");
        if (create.table.columns.empty())
            fail();
        end();
        return create;
    }

    Definition alterTable() {
        expectKeyword("ALTER");
        expectKeyword("TABLE");
        const std::string table = name();
        if (acceptKeyword("ADD")) {
            if (atTableConstraint()) {
                ddl::CreateIndex create{table, tableConstraint(table)};
                end();
                return create;
            }
            acceptKeyword("COLUMN");
            ddl::AddColumn add{table, column(nullptr, nullptr)};
            end();
            return add;
        }
        expectKeyword("DROP");
        if (acceptKeyword("CONSTRAINT")) {
            ddl::DropIndex drop{table, name()};
            end();
            return drop;
        }
        acceptKeyword("COLUMN");
        ddl::DropColumn drop{table, name()};
        end();
        return drop;
    }

    Definition createIndex() {
        expectKeyword("CREATE");
        const bool unique = acceptKeyword("UNIQUE");
        expectKeyword("INDEX");
        ddl::CreateIndex create;
        create.index.name = name();
        expectKeyword("ON");
        create.table = name();
        create.index.columns = columnList(true);
        create.index.unique = unique;
        if (acceptKeyword("WITH")) {
            if (acceptKeyword("PRIMARY")) {
                create.index.primary = create.index.unique = create.index.required = true;
            } else if (acceptKeyword("DISALLOW")) {
                expectKeyword("NULL");
                create.index.required = true;
            } else {
                expectKeyword("IGNORE");
                expectKeyword("NULL");
                create.index.ignoreNulls = true;
            }
        }
        end();
        return create;
    }

    Definition dropIndex() {
        expectKeyword("DROP");
        expectKeyword("INDEX");
        ddl::DropIndex drop;
        drop.index = name();
        expectKeyword("ON");
        drop.table = name();
        end();
        return drop;
    }

    Definition dropTable() {
        expectKeyword("DROP");
        expectKeyword("TABLE");
        ddl::DropTable drop{name()};
        end();
        return drop;
    }

    std::span<const Token> tokens_;
    std::size_t pos_ = 0;
    long number_;
};

} // namespace

Definition parseDefinition(std::span<const Token> tokens) {
    if (tokens.empty())
        raiseSyntaxError(errors::InvalidStatement);
    const StatementKind kind = classify(tokens);
    return Parser(tokens, syntaxErrorNumber(kind)).statement(kind);
}

} // namespace engine::jet
