#include "engine/sql/Select.h"

#include "automation/CaseFold.h"
#include "automation/Dispatcher.h"
#include "engine/OleDate.h"
#include "engine/sql/JetErrors.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace engine::jet {

using automation::Variant;

struct Condition {
    enum class Op { Value, Compare, IsNull, IsNotNull, Not, And, Or };
    Op op = Op::Value;
    std::string column;     // Value: a column's name, or empty for a literal
    Variant literal;        // Value with no column
    std::string comparison; // Compare: = <> < > <= >=
    std::shared_ptr<const Condition> left, right;
};

namespace {

using Kind = Token::Kind;
using Node = std::shared_ptr<const Condition>;

class Parser {
public:
    Parser(std::span<const Token> tokens, std::string_view sql,
           long syntaxError = errors::SyntaxQueryExpression)
        : tokens_(tokens), sql_(sql), syntaxError_(syntaxError) {}

    SelectQuery query() {
        SelectQuery q;
        expectKeyword("SELECT");
        if (!acceptSymbol("*")) {
            do
                q.columns.push_back(name());
            while (acceptSymbol(","));
        }
        expectKeyword("FROM");
        q.table = name();
        if (acceptKeyword("WHERE"))
            q.where = orCondition();
        acceptSymbol(";");
        if (peek().kind != Kind::End)
            fail();
        // A column written as table.column names a column of the one table read.
        for (std::string& column : q.columns)
            column = unqualified(column, q.table);
        if (q.where)
            q.where = unqualify(q.where, q.table);
        return q;
    }

    UpdateStatement update() {
        UpdateStatement u;
        expectKeyword("UPDATE");
        u.table = name();
        expectKeyword("SET");
        do {
            Assignment a;
            a.column = name();
            if (!acceptSymbol("="))
                fail();
            a.value = literal();
            u.assignments.push_back(std::move(a));
        } while (acceptSymbol(","));
        if (acceptKeyword("WHERE"))
            u.where = orCondition();
        end();
        for (Assignment& a : u.assignments)
            a.column = unqualified(a.column, u.table);
        if (u.where)
            u.where = unqualify(u.where, u.table);
        return u;
    }

    DeleteStatement remove() {
        DeleteStatement d;
        expectKeyword("DELETE");
        acceptSymbol("*");
        expectKeyword("FROM");
        d.table = name();
        if (acceptKeyword("WHERE"))
            d.where = orCondition();
        end();
        if (d.where)
            d.where = unqualify(d.where, d.table);
        return d;
    }

    InsertStatement insert() {
        InsertStatement i;
        expectKeyword("INSERT");
        expectKeyword("INTO");
        i.table = name();
        std::vector<std::string> columns;
        if (acceptSymbol("(")) {
            do
                columns.push_back(name());
            while (acceptSymbol(","));
            if (!acceptSymbol(")"))
                fail();
        }
        expectKeyword("VALUES");
        if (!acceptSymbol("("))
            fail();
        std::vector<Variant> values;
        do
            values.push_back(literal());
        while (acceptSymbol(","));
        if (!acceptSymbol(")"))
            fail();
        end();
        if (!columns.empty() && columns.size() != values.size())
            fail();
        for (std::size_t n = 0; n < values.size(); ++n)
            i.values.push_back(
                {columns.empty() ? std::string() : unqualified(columns[n], i.table), values[n]});
        return i;
    }

private:
    void end() {
        acceptSymbol(";");
        if (peek().kind != Kind::End)
            fail();
    }

    // A literal alone (what SET and VALUES take): text, number, #date#, True, False or Null.
    Variant literal() {
        if (isSymbol(peek(), "("))
            fail();
        const Node node = operand();
        if (node->op != Condition::Op::Value || !node->column.empty())
            fail();
        return node->literal;
    }

    const Token& peek() const { return pos_ < tokens_.size() ? tokens_[pos_] : tokens_.back(); }
    bool acceptKeyword(std::string_view keyword) {
        if (!isKeyword(peek(), keyword))
            return false;
        ++pos_;
        return true;
    }
    void expectKeyword(std::string_view keyword) {
        if (!acceptKeyword(keyword))
            fail();
    }
    bool acceptSymbol(std::string_view symbol) {
        if (!isSymbol(peek(), symbol))
            return false;
        ++pos_;
        return true;
    }
    [[noreturn]] void fail() const { raiseSyntaxError(syntaxError_, sql_); }

    static bool reserved(const Token& t) {
        for (std::string_view word :
             {"SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "IS", "NULL", "TRUE", "FALSE"})
            if (isKeyword(t, word))
                return true;
        return false;
    }

    // name or [name], optionally qualified: "t.c" is kept whole and resolved once the table is
    // known.
    std::string name() {
        const Token& t = peek();
        if ((t.kind != Kind::Word || reserved(t)) && t.kind != Kind::Bracketed)
            fail();
        ++pos_;
        std::string text = t.text;
        if (acceptSymbol(".")) {
            const Token& second = peek();
            if (second.kind != Kind::Word && second.kind != Kind::Bracketed)
                fail();
            ++pos_;
            text += '\x1F'; // a separator no name can hold
            text += second.text;
        }
        return text;
    }

    std::string unqualified(const std::string& text, const std::string& table) const {
        const auto dot = text.find('\x1F');
        if (dot == std::string::npos)
            return text;
        if (!automation::sameName(text.substr(0, dot), table))
            raiseTooFewParameters();
        return text.substr(dot + 1);
    }

    Node unqualify(const Node& node, const std::string& table) const {
        if (!node)
            return node;
        auto copy = std::make_shared<Condition>(*node);
        if (copy->op == Condition::Op::Value && !copy->column.empty())
            copy->column = unqualified(copy->column, table);
        copy->left = unqualify(node->left, table);
        copy->right = unqualify(node->right, table);
        return copy;
    }

    static Node make(Condition::Op op, Node left, Node right = nullptr) {
        auto node = std::make_shared<Condition>();
        node->op = op;
        node->left = std::move(left);
        node->right = std::move(right);
        return node;
    }

    Node orCondition() {
        Node left = andCondition();
        while (acceptKeyword("OR"))
            left = make(Condition::Op::Or, left, andCondition());
        return left;
    }

    Node andCondition() {
        Node left = notCondition();
        while (acceptKeyword("AND"))
            left = make(Condition::Op::And, left, notCondition());
        return left;
    }

    Node notCondition() {
        if (acceptKeyword("NOT"))
            return make(Condition::Op::Not, notCondition());
        return comparison();
    }

    Node comparison() {
        Node left = operand();
        if (acceptKeyword("IS")) {
            const bool negated = acceptKeyword("NOT");
            expectKeyword("NULL");
            return make(negated ? Condition::Op::IsNotNull : Condition::Op::IsNull, left);
        }
        for (std::string_view op : {"=", "<>", "<=", ">=", "<", ">"}) {
            if (acceptSymbol(op)) {
                auto node = std::make_shared<Condition>();
                node->op = Condition::Op::Compare;
                node->comparison = std::string(op);
                node->left = left;
                node->right = operand();
                return node;
            }
        }
        return left;
    }

    Node operand() {
        if (acceptSymbol("(")) {
            Node inner = orCondition();
            if (!acceptSymbol(")"))
                fail();
            return inner;
        }
        auto node = std::make_shared<Condition>();
        const Token& t = peek();
        if (t.kind == Kind::Text) {
            node->literal = Variant(t.text);
        } else if (t.kind == Kind::Date) {
            const auto days = oleDateFromIso(t.text);
            if (!days)
                fail();
            node->literal = Variant(*days);
        } else if (t.kind == Kind::Number || isSymbol(t, "-")) {
            const bool negative = isSymbol(t, "-");
            if (negative) {
                ++pos_;
                if (peek().kind != Kind::Number)
                    fail();
            }
            node->literal = number(peek().text, negative);
        } else if (isKeyword(t, "TRUE") || isKeyword(t, "FALSE")) {
            node->literal = Variant(isKeyword(t, "TRUE"));
        } else if (isKeyword(t, "NULL")) {
            node->literal = Variant::null();
        } else {
            node->column = name();
            return node;
        }
        ++pos_;
        return node;
    }

    Variant number(const std::string& text, bool negative) const {
        const std::string signed_ = (negative ? "-" : "") + text;
        std::int32_t whole = 0;
        const char* end = signed_.data() + signed_.size();
        if (auto [p, ec] = std::from_chars(signed_.data(), end, whole);
            ec == std::errc() && p == end)
            return Variant(whole);
        char* stop = nullptr;
        const double real = std::strtod(signed_.c_str(), &stop);
        if (stop != signed_.c_str() + signed_.size())
            fail();
        return Variant(real);
    }

    std::span<const Token> tokens_;
    std::string_view sql_;
    long syntaxError_;
    std::size_t pos_ = 0;
};

void collect(const Condition* node, std::vector<std::string>& out) {
    if (!node)
        return;
    if (node->op == Condition::Op::Value && !node->column.empty()) {
        // Each spelling once, exactly as matches() will ask for it: "Item" and "ITEM" are the
        // same column to the store, but a lookup keyed by one spelling would miss the other.
        if (std::find(out.begin(), out.end(), node->column) == out.end())
            out.push_back(node->column);
    }
    collect(node->left.get(), out);
    collect(node->right.get(), out);
}

using Lookup = std::function<Variant(const std::string&)>;

Variant valueOf(const Condition& node, const Lookup& column) {
    return node.column.empty() ? node.literal : column(node.column);
}

// Text compared with text ignores case in any alphabet (the same order as the SQLite store's
// comparisons with a text literal); numbers, dates and Booleans compare as numbers (True is -1);
// text against anything else cannot be compared.
int compare(const Variant& a, const Variant& b) {
    const bool aText = a.kind() == Variant::Kind::Text, bText = b.kind() == Variant::Kind::Text;
    if (aText != bText)
        raiseCriteriaTypeMismatch();
    if (aText)
        return automation::compareFolded(a.toText(), b.toText());
    const double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : x > y ? 1 : 0;
}

// Three-valued: nothing when unknown (a Null took part).
std::optional<bool> evaluate(const Condition& node, const Lookup& column) {
    switch (node.op) {
    case Condition::Op::Value: {
        const Variant v = valueOf(node, column);
        if (v.isNull())
            return std::nullopt;
        if (v.kind() == Variant::Kind::Text)
            raiseCriteriaTypeMismatch();
        return v.toDouble() != 0;
    }
    case Condition::Op::IsNull:
    case Condition::Op::IsNotNull: {
        const bool isNull = valueOf(*node.left, column).isNull();
        return node.op == Condition::Op::IsNull ? isNull : !isNull;
    }
    case Condition::Op::Compare: {
        const Variant a = valueOf(*node.left, column), b = valueOf(*node.right, column);
        if (a.isNull() || b.isNull())
            return std::nullopt;
        const int c = compare(a, b);
        const std::string& op = node.comparison;
        return op == "="    ? c == 0
               : op == "<>" ? c != 0
               : op == "<"  ? c < 0
               : op == ">"  ? c > 0
               : op == "<=" ? c <= 0
                            : c >= 0;
    }
    case Condition::Op::Not: {
        const auto inner = evaluate(*node.left, column);
        return inner ? std::optional<bool>(!*inner) : std::nullopt;
    }
    case Condition::Op::And: {
        const auto a = evaluate(*node.left, column), b = evaluate(*node.right, column);
        if ((a && !*a) || (b && !*b))
            return false;
        return a && b ? std::optional<bool>(true) : std::nullopt;
    }
    case Condition::Op::Or: {
        const auto a = evaluate(*node.left, column), b = evaluate(*node.right, column);
        if ((a && *a) || (b && *b))
            return true;
        return a && b ? std::optional<bool>(false) : std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace

SelectQuery parseSelect(std::span<const Token> tokens, std::string_view sql) {
    for (const Token& t : tokens)
        if (t.kind == Kind::Invalid)
            raiseSyntaxError(errors::SyntaxQueryExpression, sql);
    return Parser(tokens, sql).query();
}

namespace {

void refuseInvalid(std::span<const Token> tokens, long number, std::string_view sql) {
    for (const Token& t : tokens)
        if (t.kind == Kind::Invalid)
            raiseSyntaxError(number, sql);
}

} // namespace

UpdateStatement parseUpdate(std::span<const Token> tokens, std::string_view sql) {
    refuseInvalid(tokens, errors::SyntaxUpdate, sql);
    return Parser(tokens, sql, errors::SyntaxUpdate).update();
}

DeleteStatement parseDelete(std::span<const Token> tokens, std::string_view sql) {
    refuseInvalid(tokens, errors::SyntaxQueryExpression, sql);
    return Parser(tokens, sql, errors::SyntaxQueryExpression).remove();
}

InsertStatement parseInsert(std::span<const Token> tokens, std::string_view sql) {
    refuseInvalid(tokens, errors::SyntaxInsert, sql);
    return Parser(tokens, sql, errors::SyntaxInsert).insert();
}

std::vector<std::string> conditionColumns(const Condition& condition) {
    std::vector<std::string> out;
    collect(&condition, out);
    return out;
}

bool matches(const Condition& condition, const Lookup& column) {
    return evaluate(condition, column).value_or(false);
}

} // namespace engine::jet
