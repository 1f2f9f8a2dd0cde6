#include "app/appinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <cerrno>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QStandardPaths>
#include <QStringList>
#ifdef Q_OS_WIN
#include <QTemporaryFile>
#endif

// Q_INIT_RESOURCE declares a function of the global namespace: it cannot be
// used inside a namespace.
static void initPackscopeResources()
{
    Q_INIT_RESOURCE(packscope);
}

namespace AppInfo {

void initResources()
{
    initPackscopeResources();
}

bool checkIcon(QString *report)
{
    QFile file(iconPath());
    if (!file.exists()) {
        *report = QStringLiteral("%1 is not in the program").arg(iconPath());
        return false;
    }
    QImageReader reader(iconPath());
    QStringList sizes;
    do {
        const QImage image = reader.read();
        if (image.isNull())
            break;
        sizes << QStringLiteral("%1x%2").arg(image.width()).arg(image.height());
    } while (reader.jumpToNextImage());
    if (sizes.isEmpty()) {
        *report = QStringLiteral("%1 does not decode: %2").arg(iconPath(), reader.errorString());
        return false;
    }
    *report = QStringLiteral("%1 %2 bytes, %3").arg(iconPath()).arg(file.size()).arg(sizes.join(QLatin1Char(' ')));
    return true;
}

namespace {
#ifdef Q_OS_WIN
// The folders Windows installs programs into, and its own: the installer's
// per-machine target and the system. Their names depend on the language and
// the setup of the machine, so they come from the environment.
QStringList systemProgramRoots()
{
    QStringList roots;
    for (const char *name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            roots << QDir::cleanPath(QDir::fromNativeSeparators(value));
    }
    return roots;
}
#endif

bool inSystemProgramTree(const QString &folder)
{
#ifdef Q_OS_WIN
    // Windows' file names ignore case, and its paths may come with either
    // separator.
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    for (const QString &r : systemProgramRoots()) {
        if (clean.compare(r, Qt::CaseInsensitive) == 0
            || clean.startsWith(r + QLatin1Char('/'), Qt::CaseInsensitive))
            return true;
    }
    return false;
#else
    const QString clean = QDir::cleanPath(folder);
    for (const char *root : {"/usr", "/bin", "/sbin"}) {
        const QString r = QString::fromLatin1(root);
        if (clean == r || clean.startsWith(r + QLatin1Char('/')))
            return true;
    }
    return false;
#endif
}

// Whether the user may make files in `folder`.
bool folderWritable(const QString &folder)
{
#ifdef Q_OS_WIN
    // On Windows the file's attributes say nothing of the folder's access
    // rights (Qt does not look at them unless asked): a real file made and
    // removed at once is the answer.
    QTemporaryFile probe(folder + QStringLiteral("/.packscope-XXXXXX"));
    return probe.open();
#else
    return QFileInfo(folder).isWritable();
#endif
}
} // namespace

DataFolder chooseDataFolder(const QString &requested, const QString &programFolder, bool programFolderWritable,
                            const QString &userDataFolder)
{
    if (!requested.isEmpty())
        return {QDir::cleanPath(QDir(requested).absolutePath()), DataFolder::CommandLine};
    if (programFolderWritable && !inSystemProgramTree(programFolder))
        return {QDir::cleanPath(programFolder), DataFolder::BesideProgram};
    return {QDir::cleanPath(userDataFolder), DataFolder::UserFolder};
}

DataFolder dataFolder(const QString &requested)
{
    // Symbolic links are followed: /usr/local/bin/packscope pointing into a
    // build tree keeps the build tree's databases.
    const QString program = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
    const QString folder = program.isEmpty() ? QCoreApplication::applicationDirPath() : program;
    return chooseDataFolder(requested, folder, folderWritable(folder),
                            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

Result prepareDataFolder(const QString &path)
{
    const QString what = QStringLiteral("the data folder %1 cannot be used").arg(QDir::toNativeSeparators(path));
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return Result::failure(QStringLiteral("Not a folder: %1").arg(what));
    if (!info.exists()) {
        errno = 0;
        if (!QDir().mkpath(path)) // errno: why the last folder could not be made
            return Result::failure(
                QStringLiteral("%1: %2").arg(errno ? qt_error_string(errno) : QStringLiteral("Cannot be made"), what));
    }
    if (!QFileInfo(path).isWritable())
        return Result::failure(QStringLiteral("%1: %2").arg(qt_error_string(EACCES), what));
    return Result();
}

Result checkWritable(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (info.isDir())
        return Result::failure(qt_error_string(EISDIR));
    const bool existed = info.exists();
    QFile file(fileName);
    // ReadWrite keeps what an existing file holds.
    if (!file.open(existed ? QIODevice::ReadWrite : QIODevice::WriteOnly))
        return Result::failure(file.errorString());
    file.close();
    if (!existed)
        file.remove();
    return Result();
}

QString aboutTitle(int language)
{
    return language == 0 ? QStringLiteral("关于 PackScope") : QStringLiteral("About PackScope");
}

QString aboutText(int language, const QString &dataFolder)
{
    const QString version = QStringLiteral(PACKSCOPE_VERSION);
    if (language == 0)
        return QStringLiteral("PackScope %1\n锂电池包 BMS 的 Modbus RTU 维护工具。\n\n数据文件夹：%2\nQt 版本：%3")
            .arg(version, QDir::toNativeSeparators(dataFolder), QString::fromLatin1(qVersion()));
    return QStringLiteral("PackScope %1\nService tool for the BMS of a lithium battery pack over Modbus RTU.\n\n"
                          "Data folder: %2\nQt version: %3")
        .arg(version, QDir::toNativeSeparators(dataFolder), QString::fromLatin1(qVersion()));
}

} // namespace AppInfo
