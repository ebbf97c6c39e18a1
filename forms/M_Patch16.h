#pragma once
// The program's one window: the database path with its browse button, the run button, the
// warning, the revision badge and the progress meter. The form describes its components and
// handles their events; the window system behind controls::FormHost makes and shows them.

#include "controls/FormHost.h"
#include "controls/zelMeter.h"
#include "dao/ClassDAO.h"
#include "platform/OpenDialog.h"
#include "platform/ProgramFolder.h"

#include <memory>
#include <string>

class TForm1 {
public:
    // Has `host` make the window and its components, then runs FormCreate() with
    // `programFolder` (ending in a path separator) as the folder whose "DB" subfolder is searched.
    explicit TForm1(controls::FormHost& host,
                    std::string programFolder = platform::programFolder());
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The window's title.
    static const char* const Caption;

    // The components: the standard controls are the host's, the panels and the dialog the form's.
    controls::TControl* Label1;
    controls::TControl* Label2;
    controls::TCustomPanel* Panel1;
    controls::TControl* Button1;
    controls::TControl* Edit1;
    controls::TzelMeter* Meter;
    controls::TControl* Button2;
    platform::TOpenDialog OpenDialog1;
    // The windows the host made for Panel1 and Meter.
    controls::TControl* Panel1Window;
    controls::TControl* MeterWindow;

    // The file Edit1 names, as the program holds file names: on Linux Edit1 shows a name that is
    // not UTF-8 with its other bytes escaped (platform::displayFileName), and this undoes that.
    std::string databasePath() const;

    // The run on the path of Edit1.
    void Button1Click();
    // Proposes in Edit1 the first "*.mdb" entry (in name order, any kind of entry) of the
    // program folder's "DB" subfolder, its name in any case ("DB" first, then the others in byte
    // order, each tried until one holds a database), and points OpenDialog1 at the program
    // folder. A folder that cannot be read proposes nothing; it never ends the start-up.
    void FormCreate();
    // Lets the operator pick a database; a confirmed choice replaces the text of Edit1.
    void Button2Click();
    // Enables Button1 exactly when Edit1 names an existing regular file.
    void Edit1Change();

private:
    // The stages of the run.
    void MakeLogTables();
    void AlterGoodPric();
    void AlterSupgood();

    controls::TCustomPanel panel1_;
    controls::TzelMeter meter_;
    std::string programFolder_;
};

// The connection of the current or last run: replaced at the start of every run, released at
// its end; the run's stages reach the database through it.
extern std::unique_ptr<TzelDAO> Dao;
