#include "forms/M_Patch16.h"

#include "platform/FileNames.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

namespace {

using controls::ControlDesign;
using controls::ControlKind;
using controls::TFont;

// The faces the window was drawn for, then a face with the same line height (13 pixels at 11),
// which keeps the three lines of the warning inside its label where the original face is missing.
TFont sansFont(int pixelHeight, bool bold, controls::TColor color = controls::clWindowText) {
    return {{"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans"}, pixelHeight, bold, color};
}

TFont serifFont(int pixelHeight, bool bold, controls::TColor color) {
    return {{"Times New Roman", "Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"},
            pixelHeight,
            bold,
            color};
}

bool endsWithMdb(const std::string& name) {
    if (name.size() < 4)
        return false;
    const std::string tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'm' && (tail[2] | 0x20) == 'd' &&
           (tail[3] | 0x20) == 'b';
}

// The names of the entries of `folder`, in no particular order; nothing when it cannot be read.
// Listing stops at the first error (a share that goes away, a folder the process may not read):
// a name missed then could be the one that comes first. The error_code overloads throughout,
// because a std::filesystem::filesystem_error would end the start-up.
std::optional<std::vector<std::string>> entriesOf(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    std::vector<std::string> names;
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        names.push_back(platform::heldName(entry->path().filename()));
    if (error)
        return std::nullopt;
    return names;
}

// The name of the first entry of `folder` that ends in ".mdb" (any case, any kind of entry),
// in byte order of the names; nothing when there is none or the folder cannot be read.
std::optional<std::string> firstDatabaseIn(const std::filesystem::path& folder) {
    std::optional<std::vector<std::string>> names = entriesOf(folder);
    if (!names)
        return std::nullopt;
    std::optional<std::string> first;
    for (std::string& name : *names)
        if (endsWithMdb(name) && (!first || name < *first))
            first = std::move(name);
    return first;
}

// The subfolders of `programFolder` named "DB" in any case, as the original platform's file
// system found them: "DB" itself first, then "Db", "dB", "db" (byte order).
std::vector<std::string> databaseFolders(const std::string& programFolder) {
    std::vector<std::string> found;
    std::error_code error;
    if (std::filesystem::is_directory(platform::fileSystemPath(programFolder + "DB"), error))
        found.push_back("DB");
    std::vector<std::string> others;
    for (const std::string& name :
         entriesOf(platform::fileSystemPath(programFolder)).value_or(std::vector<std::string>{}))
        if (name.size() == 2 && name != "DB" && (name[0] | 0x20) == 'd' &&
            (name[1] | 0x20) == 'b' &&
            std::filesystem::is_directory(platform::fileSystemPath(programFolder + name), error))
            others.push_back(name);
    std::sort(others.begin(), others.end());
    found.insert(found.end(), others.begin(), others.end());
    return found;
}

} // namespace

const char* const TForm1::Caption = "Изменение структуры базы данных";

TForm1::TForm1(controls::FormHost& host, std::string programFolder)
    : programFolder_(std::move(programFolder)) {
    // The form's font and button-face background; controls without a font of their own take it.
    const TFont formFont = sansFont(11, false);
    host.designForm({Caption, 375, 133, formFont, controls::clBtnFace});

    // Made in tab order: Button1, Edit1, Button2 take the focus in turn.
    Label1 = &host.addControl({.Kind = ControlKind::Label,
                               .Text = "\"Ворлан + 4.0 \" изменения от 30.07.2003 года",
                               .Bounds = {0, 0, 375, 16},
                               .Font = sansFont(13, true, controls::clNavy),
                               .ParentFont = false,
                               .Alignment = controls::TAlignment::Center,
                               .StretchRight = true});
    Label2 = &host.addControl({.Kind = ControlKind::Label,
                               .Text = "Внимание! Не забудьте сделать резервную копию Вашей базы",
                               .Bounds = {83, 61, 162, 39},
                               .Font = sansFont(11, true, controls::clRed),
                               .ParentFont = false,
                               .WordWrap = true});

    Panel1 = &panel1_;
    panel1_.inheritFont(formFont);
    panel1_.setBevelOuter(controls::BevelCut::Raised);
    panel1_.setBevelInner(controls::BevelCut::Lowered);
    panel1_.setCaption("№ 16");
    panel1_.setFont(serifFont(19, true, controls::clBlue));
    Panel1Window = &host.addPanel(panel1_, {24, 65, 52, 28}, false);

    Button1 = &host.addControl({.Kind = ControlKind::Button,
                                .Text = "Выполнить",
                                .Bounds = {271, 67, 75, 25},
                                .Default = true,
                                .Enabled = false});
    Button1->OnClick = [this] { Button1Click(); };

    Edit1 = &host.addControl({.Kind = ControlKind::Edit, .Bounds = {24, 34, 265, 21}});
    Edit1->OnChange = [this] { Edit1Change(); };

    Meter = &meter_;
    meter_.inheritFont(formFont);
    meter_.setBevelOuter(controls::BevelCut::Lowered);
    MeterWindow = &host.addPanel(meter_, {24, 104, 322, 21}, true);

    Button2 = &host.addControl(
        {.Kind = ControlKind::Button, .Text = "Обзор...", .Bounds = {289, 35, 49, 22}});
    Button2->OnClick = [this] { Button2Click(); };

    OpenDialog1.request.title = "Открыть базу данных ";
    OpenDialog1.request.filterName = "База MS Access (*.mdb)";
    OpenDialog1.request.filterPattern = "*.mdb";
    OpenDialog1.request.defaultSuffix = "mdb";

    FormCreate();
}

void TForm1::FormCreate() {
    for (const std::string& folder : databaseFolders(programFolder_)) {
        const std::string databases = programFolder_ + folder + platform::PathSeparator;
        if (std::optional<std::string> name =
                firstDatabaseIn(platform::fileSystemPath(databases))) {
            Edit1->setText(platform::displayFileName(databases + *name));
            break;
        }
    }
    OpenDialog1.request.initialFolder = programFolder_;
}

void TForm1::Button2Click() {
    if (OpenDialog1.Execute())
        Edit1->setText(platform::displayFileName(OpenDialog1.FileName()));
}

void TForm1::Edit1Change() {
    std::error_code error;
    Button1->setEnabled(
        std::filesystem::is_regular_file(platform::fileSystemPath(databasePath()), error));
}

std::string TForm1::databasePath() const {
    return platform::fileNameBytes(Edit1->Text());
}
