// The communication log: the view's newest lines, saved files, time stamps.
#include "app/commlog.h"
#include "app/mainwindow.h"
#include "gui/dialogs.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QtTest>

namespace {
const QByteArray Read = hex("01030000002705d0"), Ack = hex("011000430001f01d");
// A line as it must be logged: the prefix, then the bytes in upper-case hex, a blank between.
QString line(int dir, const QByteArray &frame, int language)
{
    static const char *const prefixes[2][2] = {{"发→◇", "收←◆"}, {"OUT→◇", "IN←◆"}};
    return QString::fromUtf8(prefixes[language][dir]) + QString::fromLatin1(frame.toHex(' ').toUpper());
}
} // namespace

class TestCommLog : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); } // for the window
    void viewHoldsNewestSaveWritesAll()
    {
        constexpr int Lines = 10050; // past the view limit and many store blocks
        QRandomGenerator rng(7);
        QPlainTextEdit view;
        CommLog log(&view);
        QStringList expected;
        log.logFrame(CommLog::Sent, Read, 2); // a third language logs nothing
        for (int n = 0; n < Lines; ++n) {
            QByteArray frame = Read;
            frame[2] = char(n >> 8), frame[3] = char(n);
            if (n / CommLog::BlockLines % 2) { // wholly random frames: such a block does not pack
                frame.resize(int(rng.bounded(300)));
                for (char &c : frame)
                    c = char(rng.bounded(256));
            }
            log.logFrame(CommLog::Direction(n % 3 == 0), frame, n % 2);
            expected << line(n % 3 == 0, frame, n % 2);
        }
        const QStringList shown = view.toPlainText().split(QLatin1Char('\n'));
        QVERIFY(shown.size() <= CommLog::ViewLines && shown.size() > CommLog::ViewLines - CommLog::ViewTrim);
        QCOMPARE(shown, expected.mid(Lines - shown.size()));
        const QString name = m_dir.filePath(QStringLiteral("all.txt"));
        QVERIFY(log.appendTo(name).ok());
        const QByteArray all = expected.join(QLatin1Char('\n')).toUtf8() + "\r\n";
        QVERIFY(readFile(name) == all);
        // The full blocks live in the spill file: memory holds the open block and where the others are.
        QVERIFY(log.spilledBytes() > 0);
        QVERIFY2(log.storeBytes() < 400 * 1024, qPrintable(QString::number(log.storeBytes())));
        // A view whose tab is not shown is written when it is shown again, with the newest lines.
        QWidget window;
        auto *tab = new QWidget(&window);
        auto *hidden = new QPlainTextEdit(tab);
        tab->hide();
        CommLog quiet(hidden);
        for (int n = 0; n < 1500; ++n)
            quiet.logNote(QString::number(n));
        QVERIFY(hidden->document()->isEmpty());
        tab->show();
        quiet.viewShown();
        const QStringList newest = hidden->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(newest.size(), CommLog::ViewLines);
        QCOMPARE(newest.first() + ' ' + newest.last(), QStringLiteral("※ 500 ※ 1499"));
        // Clear drops the packed blocks too; saving again appends, in UTF-8 without a byte-order mark.
        log.clear();
        log.logFrame(CommLog::Received, Ack, 0);
        QCOMPARE(view.toPlainText(), QStringLiteral("收←◆01 10 00 43 00 01 F0 1D"));
        QVERIFY(log.appendTo(name).ok());
        QVERIFY(readFile(name) == all + hex("e694b6e28690e29786") + "01 10 00 43 00 01 F0 1D\r\n");
        // The disk fills up while the lines are written: the file keeps what it had, no temporary file is left.
        const QByteArray before = readFile(name);
        const QStringList files = entries(m_dir.path());
        for (int i = 0; i < 300; ++i)
            log.logFrame(CommLog::Sent, Read, 1);
        {
            FileSizeLimit full(rlim_t(before.size() + 4096));
            QCOMPARE(log.appendTo(name).error(), QStringLiteral("File too large"));
        }
        QVERIFY(readFile(name) == before);
        QCOMPARE(entries(m_dir.path()), files);
    }

    // No spill file can be made (no temporary folder), or writing it fails (the disk fills up): the blocks stay
    // in memory and every line is still saved.
    void spillFails_data()
    {
        columns<bool>("noFolder");
        QTest::newRow("no temporary folder") << true;
        QTest::newRow("disk full") << false;
    }
    void spillFails()
    {
        QFETCH(bool, noFolder);
        const QByteArray tmp = qgetenv("TMPDIR");
        if (noFolder)
            qputenv("TMPDIR", m_dir.filePath(QStringLiteral("missing")).toUtf8());
        CommLog log(nullptr);
        QStringList expected;
        {
            FileSizeLimit full(noFolder ? RLIM_INFINITY : rlim_t(0));
            for (int n = 0; n < 3 * CommLog::BlockLines + 5; ++n) {
                log.logNote(QString::number(n));
                expected << QStringLiteral("※ %1").arg(n);
            }
        }
        qputenv("TMPDIR", tmp);
        QCOMPARE(log.spilledBytes(), qint64(0));
        const QString name = m_dir.filePath(QStringLiteral("kept.txt"));
        QFile::remove(name);
        QVERIFY(log.appendTo(name).ok());
        QVERIFY(readFile(name) == expected.join(QLatin1Char('\n')).toUtf8() + "\r\n");
    }

    // The window's Save says why it failed, in its language, and leaves the old file whole.
    void windowSaveFails_data()
    {
        columns<int, QString, qint64, QString>("language", "target", "limit", "says");
        QTest::newRow("full disk") << 1 << "old.txt" << qint64(64 << 10) << "Cannot save {file}: File too large";
        QTest::newRow("missing folder") << 1 << "no/such/log.txt" << qint64(0) << "Cannot save {file}: No such file or directory";
        QTest::newRow("a folder, Chinese") << 0 << "sub" << qint64(0) << "无法保存 {file}：Filename refers to a directory";
    }
    void windowSaveFails()
    {
        QFETCH(QString, target);
        QFETCH(qint64, limit);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        const QString file = dir.filePath(target), old = dir.filePath("old.txt");
        QByteArray lines;
        for (int i = 0; i < 4000; ++i) // bigger than the disk takes
            lines += line(i % 2, Read, 0).toUtf8() + "\r\n";
        QFile f(old);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(lines) == lines.size());
        f.close();
        MainWindow w;
        QFETCH(int, language);
        child<QComboBox>(&w, "lgCB")->setCurrentIndex(language);
        QList<Dialogs::Request> boxes;
        Dialogs::setHook([&](const Dialogs::Request &r, QString *fileName) {
            if (fileName)
                *fileName = file;
            else
                boxes << r;
            return 0;
        });
        {
            FileSizeLimit full(limit ? rlim_t(limit) : RLIM_INFINITY);
            w.on_saveBtn_clicked();
        }
        Dialogs::clearHook();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes[0].text, says.replace("{file}", file));
        QVERIFY(readFile(old) == lines);
        QCOMPARE(entries(dir.path()), (QStringList{"old.txt", "sub"}));
        QVERIFY(entries(dir.filePath("sub")).isEmpty());
    }
    // A clock set back and the turn of a day kept, also in a packed block; switching the time on rewrites the view.
    void timeStamps()
    {
        qint64 now = QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 998)).toMSecsSinceEpoch();
        QPlainTextEdit view;
        CommLog log(&view);
        log.setClock([&] { return now; });
        const struct { qint64 step; const char *time; } steps[] = {
            {0, "23:59:59.998"}, {5, "00:00:00.003"}, {1000, "00:00:01.003"}, {-2000, "23:59:59.003"}, {3600000, "00:59:59.003"}};
        QString timed;
        for (const auto &s : steps) {
            now += s.step;
            log.logFrame(CommLog::Sent, Read, 1);
            timed += s.time + QStringLiteral(" OUT→◇01 03 00 00 00 27 05 D0\n");
        }
        for (int i = 5; i < CommLog::BlockLines + 3; ++i) // into a packed block and out again
            now += 250, log.logFrame(CommLog::Received, Ack, 0);
        log.setShowTime(true);
        now += 7;
        log.logFrame(CommLog::Received, Ack, 1);
        const QString last = QDateTime::fromMSecsSinceEpoch(now).toString("hh:mm:ss.zzz ") + "IN←◆01 10 00 43 00 01 F0 1D";
        // The view keeps the newest lines only, each now with its time; the file has them all.
        QVERIFY(view.toPlainText().endsWith('\n' + last));
        const QString first = view.toPlainText().section('\n', 0, 0);
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 收←◆01 10 00 43").match(first).hasMatch(), qPrintable(first));
        const QString name = m_dir.filePath(QStringLiteral("timed.txt"));
        QVERIFY(log.appendTo(name).ok());
        const QByteArray saved = readFile(name);
        QVERIFY(saved.startsWith(timed.toUtf8()) && saved.endsWith('\n' + last.toUtf8() + "\r\n"));
        QCOMPARE(saved.count('\n'), CommLog::BlockLines + 4);
    }
};

QTEST_MAIN(TestCommLog)
#include "tst_commlog.moc"
