// The program as installed: its compiled-in icon, and where it keeps its
// databases (beside itself, in the user's data folder, or where --data-dir
// says).
#include "app/appinfo.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {
QString copyProgram(const QTemporaryDir &dir)
{
    const QString exe = dir.filePath(QStringLiteral("packscope"));
    return QFile::copy(QStringLiteral(PACKSCOPE_PATH), exe) ? exe : QString();
}
} // namespace

class TestAppInfo : public QObject
{
    Q_OBJECT
private slots:
    void realProgramCarriesTheIcon()
    {
        QProcess p;
        p.start(QStringLiteral(PACKSCOPE_PATH), {QStringLiteral("--check-icon")});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QVERIFY2(out.startsWith(":/new/prefix1/app.ico ") && out.contains("32x32"), out.constData());
    }

    void choice_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("source");
        const QString user = QStringLiteral("/home/tech/.local/share/packscope");
        const int cmd = AppInfo::DataFolder::CommandLine, beside = AppInfo::DataFolder::BesideProgram,
                  home = AppInfo::DataFolder::UserFolder;
        QTest::newRow("writable folder") << "" << "/opt/tools/packscope" << true << "/opt/tools/packscope" << beside;
        QTest::newRow("read-only folder") << "" << "/opt/tools/packscope" << false << user << home;
        QTest::newRow("/usr/bin, writable by root") << "" << "/usr/bin" << true << user << home;
        QTest::newRow("/usr/local/bin") << "" << "/usr/local/bin" << true << user << home;
        QTest::newRow("/usrlocal is not /usr") << "" << "/usrlocal/bin" << true << "/usrlocal/bin" << beside;
        QTest::newRow("--data-dir over writable") << "/srv/bms" << "/opt/p" << true << "/srv/bms" << cmd;
        QTest::newRow("--data-dir over read-only") << "/srv/bms/" << "/usr/bin" << false << "/srv/bms" << cmd;
        QTest::newRow("--data-dir relative") << "data" << "/usr/bin" << false << QDir::currentPath() + "/data" << cmd;
    }
    void choice()
    {
        QFETCH(QString, requested);
        QFETCH(QString, program);
        QFETCH(bool, writable);
        const AppInfo::DataFolder d
            = AppInfo::chooseDataFolder(requested, program, writable, QStringLiteral("/home/tech/.local/share/packscope"));
        QTEST(d.path, "path");
        QTEST(int(d.source), "source");
    }

    // The decision with the system's real answer: the same copy of the
    // program, asked by root (who may write its folder) and by an unprivileged
    // user (who may not), names different folders.
    void helpNamesTheFolderForTheUserRunningIt()
    {
        QTemporaryDir bin, data;
        const QString exe = copyProgram(bin);
        QVERIFY(!exe.isEmpty());
        QFile::setPermissions(bin.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                              | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        auto help = [&](const QString &program, const QStringList &args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(program, args);
            p.waitForFinished(60000);
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        QVERIFY(help(exe, {"--help"}).contains("kept in " + bin.path() + "\n"));
        QVERIFY(help(exe, {"--help", "--data-dir", data.filePath("x")}).contains("kept in " + data.filePath("x") + "\n"));
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (geteuid() != 0 || setpriv.isEmpty())
            QSKIP("needs root and setpriv to run the program as another user");
        const QString out = help(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", exe, "--help"});
        if (out.isEmpty()) // no right to switch users here, or the copy is out of that user's reach
            QSKIP("cannot run the program as an unprivileged user here");
        QVERIFY2(out.contains("kept in " + data.filePath("packscope") + "\n"), qPrintable(out));
    }

    void dataDirTakesTheDatabases()
    {
        QTemporaryDir bin, data;
        const QString exe = copyProgram(bin);
        const QString folder = data.filePath(QStringLiteral("new/folder"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), data.path());
        p.setProcessEnvironment(env);
        p.start(exe, {QStringLiteral("--data-dir"), folder});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + "/my2.db"), 30000);
        p.kill();
        p.waitForFinished();
        QVERIFY(QFile::exists(folder + "/my1.db"));
        QVERIFY(QDir(bin.path()).entryList({"*.db"}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAppInfo)
#include "tst_appinfo.moc"
