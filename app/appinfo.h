#pragma once

#include "model/result.h"

#include <QString>

// What the program knows about itself as an installed desktop tool: its
// compiled-in resources and icon, where its databases live, and the texts of
// its About box.
namespace AppInfo {

// The icon compiled into the program, also set on every window.
inline QString iconPath() { return QStringLiteral(":/new/prefix1/app.ico"); }

// Registers the resources compiled into the GUI library. The library is
// static: without a call from the program, the linker would leave the
// resource data out of the executable.
void initResources();

// Reads the compiled-in icon. True when it is there and decodes; `report`
// then names it and its picture sizes, else says what is wrong.
bool checkIcon(QString *report);

// Where the databases my1.db and my2.db are kept.
struct DataFolder
{
    enum Source { CommandLine, BesideProgram, UserFolder };
    QString path;
    Source source = BesideProgram;
};

// The choice, free of any file system access: a folder given on the command
// line wins; otherwise the program's own folder when the user may write it
// and it is not part of the system's read-only program tree (/usr, /bin,
// /sbin; on Windows the Program Files folders and the Windows folder: a
// packaged program must not litter there, even when run by root or an
// administrator); otherwise the user's data folder (on Windows
// %APPDATA%\packscope).
DataFolder chooseDataFolder(const QString &requested, const QString &programFolder, bool programFolderWritable,
                            const QString &userDataFolder);

// The choice for this run: the program's folder and its writability as the
// system reports them, QStandardPaths::AppDataLocation as the user's folder.
// Needs the application object (for the program's folder and name).
DataFolder dataFolder(const QString &requested);

// Makes the folder when it is missing and checks that the databases can be
// made in it. On failure the reason says the system's reason first, then
// the folder ("Permission denied: the data folder /srv/x cannot be used").
Result prepareDataFolder(const QString &path);

// Whether a job may write its result to `fileName`, asked before it reads
// anything from the pack; a failure carries the system's reason
// ("Permission denied"). Neither changes nor leaves behind any file.
Result checkWritable(const QString &fileName);

// The About box in `language` (0 Chinese, 1 English).
QString aboutTitle(int language);
QString aboutText(int language, const QString &dataFolder);

} // namespace AppInfo
