// The Debian packages packscope and packscope-sim, made with cpack and
// unpacked: their files, desktop entry, manual pages, AppStream metainfo and
// dependencies, the programs running, and lintian's verdict.
#include "support/e2e.h"
#include "support/helpers.h"
#include <QImage>
#include <QRegularExpression>
#include <QtTest>

namespace {
ProgramRun run(const QString &program, const QStringList &args, const QString &dir = QString())
{
    return runProgram(program, args, QProcessEnvironment::systemEnvironment(), dir);
}
const QStringList packages{QStringLiteral("packscope"), QStringLiteral("packscope-sim")};
} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;
    QString m_arch;

    QString deb(const QString &package) const
    {
        return m_work.filePath(package + QStringLiteral("_" PACKSCOPE_VERSION "_") + m_arch + ".deb");
    }
    QString root(const QString &package) const { return m_work.filePath("root-" + package); }
    QString field(const QString &package, const char *name) const
    {
        return run(QStringLiteral("dpkg-deb"), {"-f", deb(package), name}).out.trimmed();
    }

private slots:
    void initTestCase()
    {
        const ProgramRun arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
        const ProgramRun made = run(QStringLiteral(CPACK_PATH),
                                    {"--config", QStringLiteral(PACKSCOPE_BUILD_DIR "/CPackConfig.cmake"), "-B", m_work.path()},
                                    QStringLiteral(PACKSCOPE_BUILD_DIR));
        QVERIFY2(arch.code == 0 && made.code == 0, qPrintable(made.out + made.err));
        m_arch = arch.out.trimmed();
        for (const QString &package : packages)
            QCOMPARE(run(QStringLiteral("dpkg-deb"), {"-x", deb(package), root(package)}).code, 0);
    }

    void files_data()
    {
        columns<QString, QString, bool, int>("package", "path", "present", "iconSize");
        QTest::newRow("packscope") << "packscope" << "usr/bin/packscope" << true << 0;
        QTest::newRow("bms-sim") << "packscope-sim" << "usr/bin/bms-sim" << true << 0;
        QTest::newRow("no bms-sim in packscope") << "packscope" << "usr/bin/bms-sim" << false << 0;
        QTest::newRow("no packscope in packscope-sim") << "packscope-sim" << "usr/bin/packscope" << false << 0;
        QTest::newRow("packscope(1)") << "packscope" << "usr/share/man/man1/packscope.1.gz" << true << 0;
        QTest::newRow("bms-sim(1)") << "packscope-sim" << "usr/share/man/man1/bms-sim.1.gz" << true << 0;
        QTest::newRow("metainfo") << "packscope" << "usr/share/metainfo/" PACKSCOPE_APPSTREAM_ID ".metainfo.xml" << true << 0;
        QTest::newRow("service unit") << "packscope" << "lib/systemd/system/packscope.service" << true << 0;
        QTest::newRow("service settings") << "packscope" << "etc/packscope/packscope.conf" << true << 0;
        for (const QString &package : packages)
            for (const QString doc : {"doc/%1/copyright", "doc/%1/changelog.gz"})
                QTest::addRow("%s", qPrintable(doc.arg(package))) << package << "usr/share/" + doc.arg(package) << true << 0;
        for (int size : {16, 32, 48, 64, 128, 256})
            QTest::addRow("icon %d", size) << "packscope" << QString("usr/share/icons/hicolor/%1x%1/apps/packscope.png").arg(size)
                                           << true << size;
    }
    void files()
    {
        QFETCH(QString, package);
        QFETCH(QString, path);
        QFETCH(bool, present);
        QFETCH(int, iconSize);
        const QFileInfo info(root(package) + '/' + path);
        QCOMPARE(info.exists(), present);
        if (!present)
            return;
        QVERIFY(info.isFile());
        QCOMPARE(info.isExecutable(), path.startsWith("usr/bin/"));
        if (iconSize) {
            const QImage icon(info.filePath());
            QVERIFY(icon.size() == QSize(iconSize, iconSize) && icon.hasAlphaChannel());
            const QColor body = icon.pixelColor(iconSize * 12 / 32, iconSize / 2); // the battery's green
            QVERIFY2(body.green() > 120 && body.red() < 100, qPrintable(body.name()));
        }
    }

    void copyrightAndChangelog_data()
    {
        columns<QString>("package");
        for (const QString &package : packages)
            QTest::newRow(qPrintable(package)) << package;
    }
    void copyrightAndChangelog()
    {
        QFETCH(QString, package);
        const QString doc = root(package) + "/usr/share/doc/" + package;
        const QString copyright = QString::fromUtf8(readFile(doc + "/copyright"));
        QVERIFY(copyright.startsWith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
        QVERIFY(copyright.contains("\nLicense: GPL-3+\n") && copyright.contains("/usr/share/common-licenses/GPL-3"));
        // The newest entry is this version, signed by the package's maintainer.
        const QString changelog = run(QStringLiteral("zcat"), {doc + "/changelog.gz"}).out;
        QVERIFY2(changelog.startsWith("packscope (" PACKSCOPE_VERSION ") "), qPrintable(changelog));
        QVERIFY2(changelog.contains("\n -- " + field(package, "Maintainer") + "  "), qPrintable(changelog));
    }

    void desktopEntry()
    {
        const QString file = root("packscope") + "/usr/share/applications/packscope.desktop";
        QMap<QString, QString> keys;
        for (const QString &line : QString::fromUtf8(readFile(file)).split('\n'))
            if (line.contains('='))
                keys.insert(line.section('=', 0, 0), line.section('=', 1));
        QCOMPARE(keys.value("Name") + '|' + keys.value("Exec") + '|' + keys.value("Icon"), QStringLiteral("PackScope|packscope|packscope"));
        QVERIFY(keys.value("Comment[zh_CN]").contains(QStringLiteral("电池")));
        const ProgramRun v = run(QStringLiteral("desktop-file-validate"), {file}); // installed by scripts/install-deps
        QVERIFY2(v.code == 0 && v.out.isEmpty(), qPrintable(v.out + v.err));
    }

    // Valid for software centres, launching the packaged desktop entry and
    // showing pictures the README shows.
    void metainfo()
    {
        const QString file = root("packscope") + "/usr/share/metainfo/" PACKSCOPE_APPSTREAM_ID ".metainfo.xml";
        // Infos too: a missing content rating is only one.
        const ProgramRun v = run(QStringLiteral("appstreamcli"), {"validate", "--no-net", file});
        QVERIFY2(v.code == 0 && !v.out.contains(QRegularExpression("^[EWI]: ", QRegularExpression::MultilineOption)),
                 qPrintable(v.out + v.err));
        const QString xml = QString::fromUtf8(readFile(file));
        const QString launchable = QRegularExpression("<launchable type=\"desktop-id\">([^<]+)<").match(xml).captured(1);
        QVERIFY2(QFileInfo::exists(root("packscope") + "/usr/share/applications/" + launchable), qPrintable(launchable));
        const QString readme = QString::fromUtf8(readFile(PACKSCOPE_SOURCE_DIR "/README.md"));
        int shots = 0;
        for (auto it = QRegularExpression("<image>[^<]*/(docs/screenshots/[^</]+\\.png)</image>").globalMatch(xml); it.hasNext(); ++shots) {
            const QString picture = it.next().captured(1);
            QVERIFY2(readme.contains("](" + picture + ")") && QFileInfo::exists(PACKSCOPE_SOURCE_DIR "/" + picture), qPrintable(picture));
        }
        QVERIFY(shots >= 3);
    }

    // Rendered without a groff warning; every option of --help is there, and
    // the texts that --help does not give.
    void manPages_data()
    {
        columns<QString, QString, QStringList>("package", "program", "texts");
        QTest::newRow("packscope") << "packscope" << "packscope"
                                   << QStringList{"EXIT STATUS", "EXAMPLES", "DATA FOLDER", "--data-dir", ".local/share/packscope",
                                                  "/usr", "packscope.conf", "PACKSCOPE_ANSWER_DIALOGS", "bms-sim(1)",
                                                  "MONITOR SERVICE", "/etc/packscope/packscope.conf", "mqtt_password",
                                                  "homeassistant/", "systemctl enable --now packscope"};
        QTest::newRow("bms-sim") << "packscope-sim" << "bms-sim"
                                 << QStringList{"EXIT STATUS", "EXAMPLES", "DEVICE <path>", "silent on", "silent off", "restart",
                                                "unplug", "replug", "registers START COUNT", "REGISTERS START", "quit", "packscope(1)"};
    }
    void manPages()
    {
        QFETCH(QString, package);
        QFETCH(QString, program);
        QFETCH(QStringList, texts);
        QProcess man;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C"); // plain ASCII hyphens
        env.insert("MANWIDTH", "100");
        man.setProcessEnvironment(env);
        man.start("man", {"--warnings", "-l", root(package) + "/usr/share/man/man1/" + program + ".1.gz"});
        QVERIFY(man.waitForFinished(60000));
        const QString page = QString::fromUtf8(man.readAllStandardOutput()).remove(QRegularExpression(".\b"));
        const QString warnings = QString::fromUtf8(man.readAllStandardError());
        QVERIFY2(man.exitCode() == 0 && warnings.isEmpty(), qPrintable(warnings));
        QVERIFY2(page.startsWith(program.toUpper() + "(1)"), qPrintable(page.left(200)));
        QVERIFY2(!page.contains(PACKSCOPE_BUILD_DIR), "the build machine's data folder");
        const QString help = run(root(package) + "/usr/bin/" + program, {"--help"}).out;
        for (auto it = QRegularExpression("--[a-z][a-z-]*").globalMatch(help); it.hasNext();)
            texts << it.next().captured();
        for (const QString &text : texts)
            QVERIFY2(page.contains(text), qPrintable(text));
    }

    void dependencies_data()
    {
        columns<QString, QStringList, QStringList>("package", "wanted", "unwanted");
        QTest::newRow("packscope") << "packscope"
                                   << QStringList{"libqt5core5a", "libqt5widgets5", "libqt5serialport5", "libqt5sql5-sqlite", "libqt5charts5"}
                                   << QStringList{"packscope-sim"};
        QTest::newRow("packscope-sim") << "packscope-sim" << QStringList{"libqt5core5a", "libqt5serialport5"}
                                       << QStringList{"libqt5widgets5", "libqt5charts5", "packscope"};
    }
    void dependencies()
    {
        QFETCH(QString, package);
        QFETCH(QStringList, wanted);
        QFETCH(QStringList, unwanted);
        QStringList depends = field(package, "Depends").split(QRegularExpression("[,|]\\s*"));
        for (QString &d : depends)
            d = d.section(' ', 0, 0);
        for (const QString &name : wanted)
            QVERIFY2(depends.contains(name), qPrintable(depends.join(',')));
        for (const QString &name : unwanted)
            QVERIFY2(!depends.contains(name), qPrintable(depends.join(',')));
    }

    // The unpacked programs run on the packages' dependencies; the tool carries its icon.
    void unpackedProgramsRun()
    {
        const QString program = root("packscope") + "/usr/bin/packscope";
        const ProgramRun version = run(program, {"--version"});
        QCOMPARE(QString::number(version.code) + ' ' + version.out, QStringLiteral("0 packscope " PACKSCOPE_VERSION "\n"));
        const ProgramRun icon = run(program, {"--check-icon"});
        QVERIFY2(icon.code == 0 && icon.out.startsWith(":/new/prefix1/app.ico ") && icon.out.contains("32x32"),
                 qPrintable(icon.out + icon.err));
        QCOMPARE(run(root("packscope-sim") + "/usr/bin/bms-sim", {"--help"}).code, 0);
    }

    // The monitor service runs the program as a user of its own who may
    // open the adapter, and nothing in its hardening shuts the adapter out.
    void serviceUnit()
    {
        QStringList keys;
        for (const QString &line : QString::fromUtf8(readFile(root("packscope") + "/lib/systemd/system/packscope.service")).split('\n'))
            if (line.contains('=') && !line.startsWith('#'))
                keys << line;
        for (const QString wanted : {"User=packscope", "Group=packscope", "SupplementaryGroups=dialout",
                                     "ExecStart=/usr/bin/packscope --service --config /etc/packscope/packscope.conf",
                                     "StateDirectory=packscope", "WantedBy=multi-user.target", "NoNewPrivileges=yes"})
            QVERIFY2(keys.contains(wanted), qPrintable(wanted));
        for (const QString &key : keys) // each would leave the service without the adapter
            QVERIFY2(!QRegularExpression("^(PrivateDevices=yes|DevicePolicy=|DeviceAllow=|ProtectClock=yes)").match(key).hasMatch(),
                     qPrintable(key));
    }

    // The settings are a conffile, and the service takes them as shipped
    // and with every example line taken in: it starts (here on a port that
    // is not there, which it tries again) and a SIGTERM stops it.
    void serviceSettings_data()
    {
        columns<bool>("examples");
        QTest::newRow("as shipped") << false;
        QTest::newRow("every example taken in") << true;
    }
    void serviceSettings()
    {
        QFETCH(bool, examples);
        const ProgramRun control = run(QStringLiteral("dpkg-deb"), {"--info", deb("packscope"), "conffiles"});
        QCOMPARE(control.out, QStringLiteral("/etc/packscope/packscope.conf\n"));
        QString settings = QString::fromUtf8(readFile(root("packscope") + "/etc/packscope/packscope.conf"));
        QVERIFY(settings.contains("\nport = /dev/ttyUSB0\n") && settings.contains("\ndata_dir = /var/lib/packscope\n"));
        if (examples)
            settings.replace(QRegularExpression("^#([a-z_]+ =)", QRegularExpression::MultilineOption), "\\1");
        const QString file = m_work.filePath("service.conf");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(settings.toUtf8()) > 0);
        out.close();
        QProcess service;
        service.start(root("packscope") + "/usr/bin/packscope",
                      {"--service", "--config", file, "--port", m_work.filePath("no-adapter"), "--data-dir", m_work.filePath("service")});
        QString err;
        QVERIFY(QTest::qWaitFor([&] {
            err += QString::fromUtf8(service.readAllStandardError());
            return err.contains("trying again every 5 s") || service.state() == QProcess::NotRunning;
        }, 30000));
        service.terminate();
        service.waitForFinished(30000);
        err += QString::fromUtf8(service.readAllStandardError());
        QVERIFY2(service.state() == QProcess::NotRunning, qPrintable(err));
        QVERIFY2(service.exitStatus() == QProcess::NormalExit && service.exitCode() == 0 && err.contains("stopping (SIGTERM)"),
                 qPrintable(err));
    }

    // No error or warning but those overridden, each override after a
    // comment giving its reason.
    void lintian_data()
    {
        columns<QString>("package");
        for (const QString &package : packages)
            QTest::newRow(qPrintable(package)) << package;
    }
    void lintian()
    {
        QFETCH(QString, package);
        const ProgramRun l = run(QStringLiteral("lintian"), {"--fail-on", "error,warning", deb(package)});
        const QString tags = QStringList(l.out.split('\n').filter(QRegularExpression("^[EW]: "))).join('\n');
        QVERIFY2(l.code == 0 && tags.isEmpty(), qPrintable(l.out + l.err));
        const QString overrides = root(package) + "/usr/share/lintian/overrides/" + package;
        bool reasoned = false;
        for (const QString &line : QFileInfo::exists(overrides) ? QString::fromUtf8(readFile(overrides)).split('\n') : QStringList()) {
            if (!line.startsWith('#') && !line.trimmed().isEmpty())
                QVERIFY2(reasoned, qPrintable("no reason given for: " + line));
            reasoned = line.startsWith('#');
        }
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
