#include "dao/ClassDAO.h"

#include "automation/Error.h"
#include "automation/Registry.h"
#include "platform/Dialogs.h"

#include <exception>

using automation::Variant;

namespace {

constexpr const char* EngineProgId = "DAO.PrivateDBEngine.36";
constexpr std::int32_t JetWorkspaces = 2;
constexpr std::int32_t TextFieldType = 10;
constexpr std::int32_t FailOnError = 128;

// The transaction levels one schema change has opened on the workspace and not yet ended. A
// level counts only once the engine has accepted its BeginTrans, and stops counting only once
// the engine has accepted its CommitTrans, so on failure exactly the change's own open levels
// are rolled back and the caller's levels below them stay untouched.
class OwnLevels {
public:
    explicit OwnLevels(const Variant& workspace) : workspace_(workspace) {}

    void begin() {
        workspace_.call("BeginTrans");
        ++open_;
    }
    void commit() {
        workspace_.call("CommitTrans");
        --open_;
    }
    // Ends every level still counted, innermost first. An engine refusal leaves at once: the
    // level it refused is still counted, and the engine is no longer to be trusted.
    void rollbackAll() {
        while (open_ > 0) {
            workspace_.call("Rollback");
            --open_;
        }
    }

private:
    const Variant& workspace_;
    int open_ = 0;
};

} // namespace

TzelDAO::TzelDAO() {
    automation::CoInitialize(nullptr);
    try {
        DBEngine = automation::createOleObject(EngineProgId);
        DBEngine.put("DefaultType", JetWorkspaces);
        Workspace = DBEngine.get("Workspaces", {std::int32_t{0}});
        Ready = true;
    } catch (...) {
        // An unavailable engine is reported later, by OpenBase returning false.
    }
}

TzelDAO::~TzelDAO() {
    try {
        CloseBase();
    } catch (...) {
        // A failing Close must not end the program; the references are released below anyway.
    }
    Database.clear();
    Opened = false;
    Workspace.clear();
    DBEngine.clear();
}

bool TzelDAO::OpenBase(const std::string& Path) {
    if (!Ready)
        return false;
    if (Opened)
        CloseBase();
    try {
        Database = Workspace.call("OpenDatabase", {Path});
    } catch (...) {
        // The text is built outside any guard: if even the error list cannot be read, that
        // error is the one worth reporting.
        std::string text;
        std::int32_t count = DBEngine.call("Errors").call("Count").toInt();
        if (count >= 1) {
            Variant last = DBEngine.get("Errors", {count - 1});
            text = std::to_string(last.call("Number").toInt()) + " : " +
                   last.call("Description").toText() + " : " + last.call("Source").toText();
        }
        platform::dialogs().messageBox(text, "ForceError");
    }
    Opened = !Database.isEmpty();
    return Opened;
}

void TzelDAO::CloseBase() {
    if (Opened)
        Database.call("Close");
    Database.clear();
    Opened = false;
}

std::string TzelDAO::LastErrorDescription() const {
    try {
        std::int32_t count = DBEngine.call("Errors").call("Count").toInt();
        if (count < 1)
            return {};
        return DBEngine.get("Errors", {count - 1}).call("Description").toText();
    } catch (const automation::Error&) {
        return {};
    }
}

void TzelDAO::ShowErrors() {
    DBEngine.call("Errors").call("Refresh");
    std::string text;
    std::int32_t count = DBEngine.call("Errors").call("Count").toInt();
    for (std::int32_t i = 0; i < count; ++i)
        text += DBEngine.get("Errors", {i}).call("Description").toText() + "\r\n";
    platform::dialogs().showMessage(text);
}

bool TzelDAO::TableExists(const std::string& Table) {
    try {
        Variant table = Database.get("TableDefs", {Table});
        table.clear();
        return true;
    } catch (...) {
        return false;
    }
}

bool TzelDAO::FieldExists(const Variant& TableDef, const std::string& Field) {
    try {
        TableDef.get("Fields", {Field});
        return true;
    } catch (...) {
        return false;
    }
}

bool TzelDAO::AddField(const std::string& Table, const std::string& Field, std::int32_t FieldType,
                       std::int32_t Size, const std::string& FillValue, bool AllowZeroLength,
                       bool Nullable) {
    OwnLevels levels(Workspace);
    Variant tableDef;
    Variant field;
    try {
        levels.begin();
        Database.call("TableDefs").call("Refresh");
        tableDef = Database.get("TableDefs", {Table});
        tableDef.call("Fields").call("Refresh");
        // An existing column keeps its type, size, flags and values: no fill either.
        if (!FieldExists(tableDef, Field)) {
            levels.begin();
            field = tableDef.call("CreateField", {Field, FieldType});
            if (Size > 0)
                field.put("Size", Size);
            if (FieldType == TextFieldType)
                field.put("AllowZeroLength", AllowZeroLength);
            field.put("Required", !Nullable);
            tableDef.call("Fields").call("Append", {field});
            field.clear();
            tableDef.clear();
            levels.commit();
            // The fill runs one level inside the outer level, so a failing fill also takes the
            // just appended column back with it.
            if (!FillValue.empty()) {
                levels.begin();
                Database.call("Execute",
                              {"UPDATE " + Table + " set " + Field + "=" + FillValue, FailOnError});
                levels.commit();
            }
        }
        levels.commit();
        return true;
    } catch (...) {
        levels.rollbackAll();
        field.clear();
        tableDef.clear();
        return false;
    }
}

bool TzelDAO::DeleteField(const std::string& Table, const std::string& Field) {
    OwnLevels levels(Workspace);
    Variant tableDef;
    try {
        levels.begin();
        Database.call("TableDefs").call("Refresh");
        tableDef = Database.get("TableDefs", {Table});
        // Nothing probes the column first: the engine's refusal of a missing one is the failure.
        tableDef.call("Fields").call("Delete", {Field});
        tableDef.clear();
        levels.commit();
        return true;
    } catch (...) {
        tableDef.clear();
        levels.rollbackAll();
        return false;
    }
}

bool TzelDAO::CreateIndex(const std::string& Table, const std::string& IndexName,
                          const std::vector<std::string>& IndexColumns, bool Primary, bool Unique,
                          bool Required, bool IgnoreNulls, bool Clustered) {
    OwnLevels levels(Workspace);
    Variant tableDef;
    Variant index;
    Variant indexField;
    try {
        levels.begin();
        Database.call("TableDefs").call("Refresh");
        tableDef = Database.get("TableDefs", {Table});
        tableDef.call("Fields").call("Refresh");
        tableDef.call("Indexes").call("Refresh");
        index = tableDef.call("CreateIndex", {IndexName});
        index.put("Primary", Primary);
        index.put("Unique", Unique);
        index.put("Required", Required);
        index.put("IgnoreNulls", IgnoreNulls);
        index.put("Clustered", Clustered);
        for (const std::string& column : IndexColumns) {
            indexField = index.call("CreateField", {column});
            index.call("Fields").call("Append", {indexField});
        }
        tableDef.call("Indexes").call("Append", {index});
        levels.commit();
        indexField.clear();
        index.clear();
        tableDef.clear();
        return true;
    } catch (...) {
        // The report comes first, while the error list still describes the refusal; the own
        // level is rolled back even when the report itself fails.
        std::exception_ptr reportFailure;
        try {
            ShowErrors();
        } catch (...) {
            reportFailure = std::current_exception();
        }
        levels.rollbackAll();
        indexField.clear();
        index.clear();
        tableDef.clear();
        if (reportFailure)
            std::rethrow_exception(reportFailure);
        return false;
    }
}
