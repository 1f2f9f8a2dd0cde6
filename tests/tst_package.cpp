// The Debian package made with cpack and unpacked: files, desktop entry, dependencies, the program running.
#include "support/e2e.h"
#include "support/helpers.h"
#include <QImage>
#include <QtTest>

namespace {
ProgramRun run(const QString &program, const QStringList &args, const QString &dir = QString())
{
    return runProgram(program, args, QProcessEnvironment::systemEnvironment(), dir);
}
} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;
    QString m_deb, m_root;

private slots:
    void initTestCase()
    {
        const ProgramRun arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
        const ProgramRun made = run(QStringLiteral(CPACK_PATH),
                                    {"--config", QStringLiteral(PACKSCOPE_BUILD_DIR "/CPackConfig.cmake"), "-B", m_work.path()},
                                    QStringLiteral(PACKSCOPE_BUILD_DIR));
        QVERIFY2(arch.code == 0 && made.code == 0, qPrintable(made.out + made.err));
        m_deb = m_work.filePath(QStringLiteral("packscope_" PACKSCOPE_VERSION "_") + arch.out.trimmed() + ".deb");
        m_root = m_work.filePath(QStringLiteral("root"));
        QCOMPARE(run(QStringLiteral("dpkg-deb"), {"-x", m_deb, m_root}).code, 0);
    }

    void files_data()
    {
        columns<QString, int>("path", "iconSize");
        QTest::newRow("packscope") << "usr/bin/packscope" << 0;
        QTest::newRow("bms-sim") << "usr/bin/bms-sim" << 0;
        for (int size : {16, 32, 48, 64, 128, 256})
            QTest::addRow("icon %d", size) << QString("usr/share/icons/hicolor/%1x%1/apps/packscope.png").arg(size) << size;
    }
    void files()
    {
        QFETCH(QString, path);
        QFETCH(int, iconSize);
        const QFileInfo info(m_root + '/' + path);
        QVERIFY2(info.isFile(), qPrintable(path));
        QCOMPARE(info.isExecutable(), path.startsWith("usr/bin/"));
        if (iconSize) {
            const QImage icon(info.filePath());
            QVERIFY(icon.size() == QSize(iconSize, iconSize) && icon.hasAlphaChannel());
            const QColor body = icon.pixelColor(iconSize * 12 / 32, iconSize / 2); // the battery's green
            QVERIFY2(body.green() > 120 && body.red() < 100, qPrintable(body.name()));
        }
    }

    void desktopEntry()
    {
        const QString file = m_root + "/usr/share/applications/packscope.desktop";
        QMap<QString, QString> keys;
        for (const QString &line : QString::fromUtf8(readFile(file)).split('\n'))
            if (line.contains('='))
                keys.insert(line.section('=', 0, 0), line.section('=', 1));
        QCOMPARE(keys.value("Name") + '|' + keys.value("Exec") + '|' + keys.value("Icon"), QStringLiteral("PackScope|packscope|packscope"));
        QVERIFY(keys.value("Comment[zh_CN]").contains(QStringLiteral("电池")));
        const ProgramRun v = run(QStringLiteral("desktop-file-validate"), {file}); // installed by scripts/install-deps
        QVERIFY2(v.code == 0 && v.out.isEmpty(), qPrintable(v.out + v.err));
    }

    // The unpacked program runs on the package's dependencies and carries its icon.
    void unpackedProgramRuns()
    {
        const QString depends = run(QStringLiteral("dpkg-deb"), {"-f", m_deb, "Depends"}).out;
        for (const char *package : {"libqt5core5a", "libqt5widgets5", "libqt5serialport5", "libqt5sql5-sqlite"})
            QVERIFY2(depends.contains(QLatin1String(package)), qPrintable(depends));
        const QString program = m_root + "/usr/bin/packscope";
        const ProgramRun version = run(program, {"--version"});
        QCOMPARE(QString::number(version.code) + ' ' + version.out, QStringLiteral("0 packscope " PACKSCOPE_VERSION "\n"));
        const ProgramRun icon = run(program, {"--check-icon"});
        QVERIFY2(icon.code == 0 && icon.out.startsWith(":/new/prefix1/app.ico ") && icon.out.contains("32x32"),
                 qPrintable(icon.out + icon.err));
        QCOMPARE(run(m_root + "/usr/bin/bms-sim", {"--help"}).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
