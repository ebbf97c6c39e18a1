#include "RecordingEngine.h"

#include "automation/Dispatcher.h"
#include "automation/Error.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

namespace testsupport {

using automation::Error;
using automation::Variant;

struct RecordingEngine::State {
    std::vector<std::string> lines;
    int failCountdown = 0; // 0: no call armed
    std::string failPrefix;
    bool failPrefixArmed = false;
    std::vector<std::pair<std::string, std::vector<ErrorEntry>>> refusedPaths;
    std::optional<std::vector<ErrorEntry>> pendingErrors; // the list a refused path leaves
    std::vector<ErrorEntry> errors;
    std::vector<int> levels;
    int nextLevel = 1;
    std::vector<std::pair<std::string, Table>> tables;
    int engines = 0;
    std::int32_t recordCount = 0;
    std::vector<std::pair<std::string, Variant>> firstRow;

    Table* findTable(const std::string& name) {
        for (auto& [key, table] : tables)
            if (automation::sameName(key, name))
                return &table;
        return nullptr;
    }
};

namespace {

using State = RecordingEngine::State;
using Args = std::span<const Variant>;

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return automation::sameName(n, name); });
}

// Base of every fake object: records each call, applies the failure a test asked for, and
// leaves every error it raises as the one entry of the engine's error list.
class FakeObject : public automation::Dispatcher {
public:
    FakeObject(std::shared_ptr<State> state, std::string kind, std::string label)
        : Dispatcher("DAO." + kind), state_(std::move(state)), kind_(std::move(kind)),
          label_(std::move(label)) {}

    const std::string& label() const { return label_; }

protected:
    // A member answering get and call with minArgs..maxArgs arguments.
    void member(const std::string& name, int minArgs, int maxArgs, Reader body) {
        method(name, minArgs, maxArgs, [this, name, body = std::move(body)](Args args) {
            std::string line = name;
            if (!args.empty()) {
                line += "(";
                for (std::size_t i = 0; i < args.size(); ++i)
                    line += (i ? "," : "") + plain(args[i]);
                line += ")";
            }
            record(line);
            return body(args);
        });
    }
    // A write-only property.
    void settable(const std::string& name, std::function<void(const Variant&)> set) {
        property(name, {}, [this, name, set = std::move(set)](Args, const Variant& value) {
            record(name + "=" + plain(value));
            set(value);
        });
    }

    void failed(const Error& error) override {
        if (state_->pendingErrors) {
            state_->errors = std::move(*state_->pendingErrors);
            state_->pendingErrors.reset();
            return;
        }
        state_->errors = {{error.number(), error.description(), error.source()}};
    }

    [[noreturn]] void raise(long number, const std::string& description) const {
        throw Error(number, description, source());
    }
    [[noreturn]] void notFound(const std::string& name) const {
        raise(RecordingEngine::ItemNotFound, "Элемент не найден в этой коллекции: " + name);
    }

    // Strict argument kinds, as the engine's typed parameters are.
    std::string text(Args args, std::size_t i) const {
        if (args[i].kind() != Variant::Kind::Text)
            raise(automation::errors::TypeMismatch, "ожидался текст: " + args[i].describe());
        return args[i].toText();
    }
    std::int32_t integer(const Variant& v) const {
        if (v.kind() != Variant::Kind::Int)
            raise(automation::errors::TypeMismatch, "ожидалось целое: " + v.describe());
        return v.toInt();
    }
    bool flag(const Variant& v) const {
        if (v.kind() != Variant::Kind::Bool)
            raise(automation::errors::TypeMismatch, "ожидалось логическое: " + v.describe());
        return v.toBool();
    }
    template <class T> std::shared_ptr<T> objectArg(Args args, std::size_t i) const {
        auto object = args[i].isObject() ? std::dynamic_pointer_cast<T>(args[i].object()) : nullptr;
        if (!object)
            raise(automation::errors::TypeMismatch, "ожидался объект: " + args[i].describe());
        return object;
    }

    std::shared_ptr<State> state_;

private:
    static std::string plain(const Variant& v) {
        if (v.isObject()) {
            auto* fake = dynamic_cast<FakeObject*>(v.object().get());
            return fake ? fake->label() : "<объект>";
        }
        return v.isNull() ? "Null" : v.toText();
    }

    void record(const std::string& member) {
        std::string line = kind_ + "." + member;
        state_->lines.push_back(line);
        bool fail = state_->failCountdown > 0 && --state_->failCountdown == 0;
        if (!fail && state_->failPrefixArmed && line.starts_with(state_->failPrefix)) {
            state_->failPrefixArmed = false;
            fail = true;
        }
        if (fail)
            raise(RecordingEngine::InjectedErrorNumber, "Сбой по требованию теста: " + line);
    }

    std::string kind_;
    std::string label_;
};

// A list of names that Append and Delete change: a table's columns or an index's key columns.
class FieldsObject : public FakeObject {
public:
    FieldsObject(std::shared_ptr<State> state, std::function<std::vector<std::string>&()> names);
};

class FieldObject : public FakeObject {
public:
    FieldObject(std::shared_ptr<State> state, std::string name)
        : FakeObject(std::move(state), "Field", "Field " + name), name_(std::move(name)) {
        member("Name", 0, 0, [this](Args) { return Variant(name_); });
        settable("Size", [this](const Variant& v) { integer(v); });
        settable("AllowZeroLength", [this](const Variant& v) { flag(v); });
        settable("Required", [this](const Variant& v) { flag(v); });
    }
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

FieldsObject::FieldsObject(std::shared_ptr<State> state,
                           std::function<std::vector<std::string>&()> names)
    : FakeObject(std::move(state), "Fields", "Fields") {
    member("Refresh", 0, 0, [](Args) { return Variant(); });
    member("Append", 1, 1, [this, names](Args a) {
        auto field = objectArg<FieldObject>(a, 0);
        if (contains(names(), field->name()))
            raise(3191, "Поле определено более одного раза: " + field->name());
        names().push_back(field->name());
        return Variant();
    });
    member("Delete", 1, 1, [this, names](Args a) {
        std::string name = text(a, 0);
        auto& list = names();
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const std::string& n) { return automation::sameName(n, name); });
        if (it == list.end())
            notFound(name);
        list.erase(it);
        return Variant();
    });
}

class IndexObject : public FakeObject {
public:
    IndexObject(std::shared_ptr<State> state, std::string name)
        : FakeObject(std::move(state), "Index", "Index " + name), name_(std::move(name)) {
        for (const char* flagName : {"Primary", "Unique", "Required", "IgnoreNulls", "Clustered"})
            settable(flagName, [this](const Variant& v) { flag(v); });
        member("Name", 0, 0, [this](Args) { return Variant(name_); });
        member("CreateField", 1, 1, [this](Args a) {
            return Variant(std::make_shared<FieldObject>(state_, text(a, 0)));
        });
        member("Fields", 0, 0, [this](Args) {
            auto self = std::static_pointer_cast<IndexObject>(shared_from_this());
            return Variant(std::make_shared<FieldsObject>(
                state_, [self]() -> std::vector<std::string>& { return self->columns_; }));
        });
    }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::vector<std::string> columns_;
};

class TableObject : public FakeObject {
public:
    TableObject(std::shared_ptr<State> state, std::string name)
        : FakeObject(std::move(state), "TableDef", "TableDef " + name), name_(std::move(name)) {
        member("Fields", 0, 1, [this](Args a) {
            if (a.empty()) {
                auto self = std::static_pointer_cast<TableObject>(shared_from_this());
                return Variant(
                    std::make_shared<FieldsObject>(state_, [self]() -> std::vector<std::string>& {
                        return self->table().fields;
                    }));
            }
            std::string field = text(a, 0);
            if (!contains(table().fields, field))
                notFound(field);
            return Variant(std::make_shared<FieldObject>(state_, field));
        });
        member("Indexes", 0, 0, [this](Args) {
            auto self = std::static_pointer_cast<TableObject>(shared_from_this());
            return Variant(std::make_shared<IndexesObject>(state_, self));
        });
        member("CreateField", 1, 3, [this](Args a) {
            std::string field = text(a, 0);
            for (std::size_t i = 1; i < a.size(); ++i)
                integer(a[i]);
            return Variant(std::make_shared<FieldObject>(state_, field));
        });
        member("CreateIndex", 1, 1, [this](Args a) {
            return Variant(std::make_shared<IndexObject>(state_, text(a, 0)));
        });
    }

    RecordingEngine::Table& table() const {
        RecordingEngine::Table* t = state_->findTable(name_);
        if (!t)
            notFound(name_);
        return *t;
    }

private:
    class IndexesObject : public FakeObject {
    public:
        IndexesObject(std::shared_ptr<State> state, std::shared_ptr<TableObject> table)
            : FakeObject(std::move(state), "Indexes", "Indexes") {
            member("Refresh", 0, 0, [](Args) { return Variant(); });
            member("Append", 1, 1, [this, table](Args a) {
                auto index = objectArg<IndexObject>(a, 0);
                auto& indexes = table->table().indexes;
                if (contains(indexes, index->name()))
                    raise(RecordingEngine::IndexExists, "Индекс уже существует: " + index->name());
                indexes.push_back(index->name());
                return Variant();
            });
        }
    };

    std::string name_;
};

class DatabaseObject : public FakeObject {
public:
    explicit DatabaseObject(std::shared_ptr<State> state)
        : FakeObject(std::move(state), "Database", "Database") {
        member("Execute", 1, 2, [this](Args a) {
            text(a, 0);
            if (a.size() > 1)
                integer(a[1]);
            return Variant();
        });
        member("OpenRecordset", 1, 2, [this](Args a) {
            text(a, 0);
            if (a.size() > 1)
                integer(a[1]);
            return Variant(std::make_shared<RecordsetObject>(state_));
        });
        member("TableDefs", 0, 1, [this](Args a) {
            if (a.empty())
                return Variant(std::make_shared<TableDefsObject>(state_));
            std::string name = text(a, 0);
            if (!state_->findTable(name))
                notFound(name);
            return Variant(std::make_shared<TableObject>(state_, name));
        });
        member("Close", 0, 0, [](Args) { return Variant(); });
    }

private:
    // The recordset a test set up: its row count and the values of its first row.
    class RecordsetObject : public FakeObject {
    public:
        explicit RecordsetObject(std::shared_ptr<State> state)
            : FakeObject(std::move(state), "Recordset", "Recordset") {
            member("RecordCount", 0, 0, [this](Args) { return Variant(state_->recordCount); });
            member("Fields", 1, 1, [this](Args a) {
                std::string name = text(a, 0);
                for (const auto& [column, value] : state_->firstRow)
                    if (automation::sameName(column, name))
                        return Variant(std::make_shared<ValueObject>(state_, value));
                notFound(name);
            });
        }
    };
    class ValueObject : public FakeObject {
    public:
        ValueObject(std::shared_ptr<State> state, Variant value)
            : FakeObject(std::move(state), "Field", "Field"), value_(std::move(value)) {
            member("Value", 0, 0, [this](Args) { return value_; });
        }

    private:
        Variant value_;
    };

    class TableDefsObject : public FakeObject {
    public:
        explicit TableDefsObject(std::shared_ptr<State> state)
            : FakeObject(std::move(state), "TableDefs", "TableDefs") {
            member("Refresh", 0, 0, [](Args) { return Variant(); });
        }
    };
};

class WorkspaceObject : public FakeObject {
public:
    explicit WorkspaceObject(std::shared_ptr<State> state)
        : FakeObject(std::move(state), "Workspace", "Workspace") {
        member("OpenDatabase", 1, 4, [this](Args a) {
            std::string path = text(a, 0);
            for (const auto& [refused, errors] : state_->refusedPaths)
                if (refused == path) {
                    state_->pendingErrors = errors;
                    raise(errors.empty() ? 3024 : errors.back().number, "Путь отвергнут: " + path);
                }
            return Variant(std::make_shared<DatabaseObject>(state_));
        });
        member("BeginTrans", 0, 0, [this](Args) {
            state_->levels.push_back(state_->nextLevel++);
            return Variant();
        });
        member("CommitTrans", 0, 0, [this](Args) { return endLevel(); });
        member("Rollback", 0, 0, [this](Args) { return endLevel(); });
    }

private:
    Variant endLevel() {
        if (state_->levels.empty())
            raise(RecordingEngine::NoTransaction, "Попытка завершить транзакцию, не начав её");
        state_->levels.pop_back();
        return {};
    }
};

class ErrorObject : public FakeObject {
public:
    ErrorObject(std::shared_ptr<State> state, RecordingEngine::ErrorEntry entry)
        : FakeObject(std::move(state), "Error", "Error"), entry_(std::move(entry)) {
        member("Number", 0, 0, [this](Args) { return Variant(std::int32_t(entry_.number)); });
        member("Description", 0, 0, [this](Args) { return Variant(entry_.description); });
        member("Source", 0, 0, [this](Args) { return Variant(entry_.source); });
    }

private:
    RecordingEngine::ErrorEntry entry_;
};

class EngineObject : public FakeObject {
public:
    explicit EngineObject(std::shared_ptr<State> state)
        : FakeObject(std::move(state), "DBEngine", "DBEngine") {
        settable("DefaultType", [this](const Variant& v) { integer(v); });
        member("Workspaces", 1, 1, [this](Args a) {
            if (integer(a[0]) != 0)
                notFound(a[0].toText());
            if (workspace_.isEmpty())
                workspace_ = Variant(std::make_shared<WorkspaceObject>(state_));
            return workspace_;
        });
        member("Errors", 0, 1, [this](Args a) {
            if (a.empty())
                return Variant(std::make_shared<ErrorListObject>(state_));
            return entry(integer(a[0]));
        });
    }

private:
    Variant entry(std::int32_t i) const {
        if (i < 0 || i >= static_cast<std::int32_t>(state_->errors.size()))
            notFound(std::to_string(i));
        return Variant(std::make_shared<ErrorObject>(state_, state_->errors[i]));
    }

    class ErrorListObject : public FakeObject {
    public:
        explicit ErrorListObject(std::shared_ptr<State> state)
            : FakeObject(std::move(state), "Errors", "Errors") {
            member("Count", 0, 0, [this](Args) {
                return Variant(static_cast<std::int32_t>(state_->errors.size()));
            });
            member("Refresh", 0, 0, [](Args) { return Variant(); });
        }
    };

    Variant workspace_;
};

} // namespace

RecordingEngine::RecordingEngine()
    : state_(std::make_shared<State>()),
      registration_("DAO.PrivateDBEngine.36", [state = state_]() -> automation::ObjectRef {
          ++state->engines;
          return std::make_shared<EngineObject>(state);
      }) {}

RecordingEngine::~RecordingEngine() = default;

void RecordingEngine::addTable(const std::string& name, std::vector<std::string> fields,
                               std::vector<std::string> indexes) {
    if (Table* existing = state_->findTable(name)) {
        *existing = {std::move(fields), std::move(indexes)};
        return;
    }
    state_->tables.emplace_back(name, Table{std::move(fields), std::move(indexes)});
}

RecordingEngine::Table RecordingEngine::table(const std::string& name) const {
    Table* t = state_->findTable(name);
    return t ? *t : Table{};
}

bool RecordingEngine::hasTable(const std::string& name) const {
    return state_->findTable(name) != nullptr;
}

void RecordingEngine::setRecordset(
    std::int32_t recordCount, std::vector<std::pair<std::string, automation::Variant>> firstRow) {
    state_->recordCount = recordCount;
    state_->firstRow = std::move(firstRow);
}

void RecordingEngine::failAtCall(int n) {
    state_->failCountdown = n;
}

void RecordingEngine::failOn(const std::string& linePrefix) {
    state_->failPrefix = linePrefix;
    state_->failPrefixArmed = true;
}

void RecordingEngine::refusePath(const std::string& path, std::vector<ErrorEntry> errors) {
    state_->refusedPaths.emplace_back(path, std::move(errors));
}

void RecordingEngine::setErrors(std::vector<ErrorEntry> errors) {
    state_->errors = std::move(errors);
}

const std::vector<RecordingEngine::ErrorEntry>& RecordingEngine::errors() const {
    return state_->errors;
}

const std::vector<std::string>& RecordingEngine::lines() const {
    return state_->lines;
}

void RecordingEngine::clearLines() {
    state_->lines.clear();
}

std::vector<int> RecordingEngine::openLevels() const {
    return state_->levels;
}

int RecordingEngine::enginesCreated() const {
    return state_->engines;
}

} // namespace testsupport
