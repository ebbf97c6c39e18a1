#include "engine/sqlite/JetTranslate.h"

#include "engine/sql/JetErrors.h"
#include "engine/sql/JetStatement.h"
#include "engine/sqlite/CaseRules.h"
#include "engine/sqlite/SqliteStatement.h"

namespace engine::jet {

Translation translateData(std::span<const Token> tokens, std::string_view sql) {
    const long number = syntaxErrorNumber(classify(tokens));
    Translation out;
    // Every token is written with a blank after it, so no two of them can fuse into something
    // SQLite reads differently ("-" "-" would otherwise start a comment).
    auto emit = [&out](std::string_view text) {
        out.sql += text;
        out.sql += ' ';
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        switch (token.kind) {
        case Token::Kind::End:
            break;
        case Token::Kind::Invalid:
            raiseSyntaxError(number, sql);
        case Token::Kind::Word:
            // The dialect has no common table expressions; passed on, WITH RECURSIVE would let
            // one statement run, and collect rows, without end.
            if (isKeyword(token, "WITH"))
                raiseSyntaxError(number, sql);
            if (isKeyword(token, "TRUE"))
                emit("-1");
            else if (isKeyword(token, "FALSE"))
                emit("0");
            else
                emit(token.text);
            break;
        case Token::Kind::Bracketed:
            emit(ident(token.text));
            break;
        case Token::Kind::Text:
            // The original engine compares text without regard to case; the collation on the
            // value makes any comparison it takes part in do the same (in any alphabet, by the
            // engine's rule), and is inert elsewhere.
            emit(std::string("? COLLATE ") + FoldCollation);
            out.params.emplace_back(token.text);
            break;
        case Token::Kind::Date:
            emit("?");
            out.params.emplace_back(token.text);
            break;
        case Token::Kind::Number:
            emit(token.text);
            break;
        case Token::Kind::Symbol:
            if (token.text == ";") {
                if (i + 1 >= tokens.size() || tokens[i + 1].kind != Token::Kind::End)
                    raiseSyntaxError(number, sql);
            } else if (token.text == "&") {
                emit("||");
            } else if (token.text == "*" && i == 1 && isKeyword(tokens[0], "DELETE")) {
                // DELETE * FROM t: the engine's way of saying DELETE FROM t.
            } else {
                emit(token.text);
            }
            break;
        }
    }
    if (!out.sql.empty())
        out.sql.pop_back();
    return out;
}

Translation wholeTable(std::string_view table) {
    return {"SELECT * FROM " + ident(table), {}};
}

} // namespace engine::jet
