// The communication log: line format, the view's newest lines, saved files, time stamps, the tab.
#include "app/commlog.h"
#include "gui/dialogs.h"
#include "app/mainwindow.h"
#include "model/livedata.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

namespace {
const QByteArray Read = QByteArray::fromHex("010300000027" "05d0"), Ack = QByteArray::fromHex("011000430001" "f01d");
// How the prefixes must appear in a saved file: OUT→◇, IN←◆, 发→◇, 收←◆.
const QByteArray OutEn = QByteArray::fromHex("4f5554e28692e29787"), InEn = QByteArray::fromHex("494ee28690e29786");
const QByteArray OutZh = QByteArray::fromHex("e58f91e28692e29787"), InZh = QByteArray::fromHex("e694b6e28690e29786");
} // namespace

class TestCommLog : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); }
    void lineFormat_data()
    {
        columns<int, int, QString>("dir", "language", "expected");
        QTest::newRow("sent, English") << 0 << 1 << QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0");
        QTest::newRow("received, Chinese") << 1 << 0 << QStringLiteral("收←◆01 10 00 43 00 01 F0 1D");
        QTest::newRow("language 2 logs nothing") << 0 << 2 << QString();
    }
    void lineFormat()
    {
        QFETCH(int, dir);
        QFETCH(int, language);
        QFETCH(QString, expected);
        QPlainTextEdit view;
        CommLog log(&view);
        log.logFrame(CommLog::Direction(dir), dir ? Ack : Read, language);
        QCOMPARE(view.toPlainText(), expected);
        QCOMPARE(log.line(0), expected);
    }
    void saveTwiceAppendsBoth()
    {
        const QString name = m_dir.filePath(QStringLiteral("twice.txt"));
        CommLog log(nullptr);
        for (int language : {1, 0})
            log.logFrame(CommLog::Sent, Read, language), log.logFrame(CommLog::Received, Ack, language);
        QVERIFY(log.appendTo(name) && log.appendTo(name));
        const QByteArray copy = OutEn + "01 03 00 00 00 27 05 D0\n" + InEn + "01 10 00 43 00 01 F0 1D\n"
            + OutZh + "01 03 00 00 00 27 05 D0\n" + InZh + "01 10 00 43 00 01 F0 1D\r\n";
        QCOMPARE(readFile(name), copy + copy);
        for (const QString &bad : {m_dir.filePath(QStringLiteral("no/such/folder.txt")), m_dir.path()})
            QVERIFY2(!log.appendTo(bad), qPrintable(bad)); // a failure, never a silent success
    }
    void viewHoldsNewestSaveWritesAll()
    {
        constexpr int Lines = 10050; // past the view limit and many store blocks
        QRandomGenerator rng(7);
        QPlainTextEdit view;
        CommLog log(&view);
        QStringList expected;
        for (int n = 0; n < Lines; ++n) {
            QByteArray frame = Read;
            frame[2] = char(n >> 8), frame[3] = char(n);
            if (n / CommLog::BlockLines % 2) { // wholly random frames: such a block does not pack
                frame.resize(int(rng.bounded(300)));
                for (char &c : frame)
                    c = char(rng.bounded(256));
            }
            const auto dir = CommLog::Direction(n % 3 == 0);
            log.logFrame(dir, frame, n % 2);
            expected << CommLog::formatLine(dir, frame, n % 2);
        }
        const QStringList shown = view.toPlainText().split(QLatin1Char('\n'));
        QVERIFY(shown.size() <= CommLog::ViewLines && shown.size() > CommLog::ViewLines - CommLog::ViewTrim);
        QCOMPARE(shown, expected.mid(Lines - shown.size()));
        const QString name = m_dir.filePath(QStringLiteral("all.txt"));
        QVERIFY(log.appendTo(name));
        QVERIFY(readFile(name) == expected.join(QLatin1Char('\n')).toUtf8() + "\r\n"); // every line, CR LF at the end
        // Clear drops the packed blocks too: the next line is the first.
        log.clear();
        log.logFrame(CommLog::Received, Ack, 1);
        QCOMPARE(view.toPlainText(), QStringLiteral("IN←◆01 10 00 43 00 01 F0 1D"));
        QVERIFY(log.appendTo(name + QStringLiteral(".cleared")));
        QCOMPARE(readFile(name + QStringLiteral(".cleared")), InEn + "01 10 00 43 00 01 F0 1D\r\n");
    }
    void timeStamps()
    {
        // A clock set back and the turn of a day are kept as they were.
        const qint64 t0 = QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 998)).toMSecsSinceEpoch();
        const qint64 steps[] = {0, 5, 1000, -2000, 3600000};
        const char *times[] = {"23:59:59.998", "00:00:00.003", "00:00:01.003", "23:59:59.003", "00:59:59.003"};
        qint64 now = t0;
        QPlainTextEdit view;
        CommLog log(&view);
        log.setClock([&] { return now; });
        QByteArray timed;
        for (int i = 0; i < 5; ++i) {
            now += steps[i];
            log.logFrame(CommLog::Sent, Read, 1);
            timed += QByteArray(times[i]) + ' ' + OutEn + "01 03 00 00 00 27 05 D0" + (i < 4 ? "\n" : "\r\n");
        }
        for (int i = 5; i < CommLog::BlockLines + 3; ++i) // into a packed block and out again
            now += 250, log.logFrame(CommLog::Received, Ack, 0);
        QCOMPARE(view.toPlainText().split('\n').first(), OutEn + "01 03 00 00 00 27 05 D0"); // off by default
        log.setShowTime(true); // the lines in view are written again
        QCOMPARE(view.toPlainText().split('\n').first(), QString::fromUtf8(QByteArray(times[0]) + ' ' + OutEn) + "01 03 00 00 00 27 05 D0");
        QCOMPARE(log.lineTime(4), t0 + 5 + 1000 - 2000 + 3600000);
        QCOMPARE(log.lineTime(CommLog::BlockLines + 2), now);
        now += 7;
        log.logFrame(CommLog::Received, Ack, 1);
        const QString last = QDateTime::fromMSecsSinceEpoch(now).toString("hh:mm:ss.zzz ") + "IN←◆01 10 00 43 00 01 F0 1D";
        QCOMPARE(view.toPlainText().split('\n').last(), last);
        QCOMPARE(log.line(log.lineCount() - 1), last);
        const QString name = m_dir.filePath(QStringLiteral("timed.txt"));
        QVERIFY(log.appendTo(name));
        const QByteArray saved = readFile(name);
        QVERIFY(saved.startsWith(timed.left(timed.size() - 2) + '\n'));
        QVERIFY(saved.endsWith('\n' + last.toUtf8() + "\r\n"));
        QCOMPARE(saved.count('\n'), CommLog::BlockLines + 4);
    }
    void windowTimeSaveAndClear()
    {
        TestEnv::resetLiveData();
        MainWindow w;
        // The history page has buttons of the same names: take the log's own on tab 4.
        QWidget *tab = child<QTabWidget>(&w, "tabWidget")->widget(4);
        auto *view = child<QPlainTextEdit>(tab, "textEdit");
        auto *time = child<QCheckBox>(tab, "timeCB");
        QVERIFY(!time->isChecked());
        emit w.link()->frameSent(QByteArray::fromHex("010300000027 05D0")); // as the link reports a request
        const QString name = m_dir.filePath(QStringLiteral("window.txt"));
        Dialogs::setHook([&](const Dialogs::Request &r, QString *fileName) {
            if (fileName && r.kind == Dialogs::Request::SaveFile)
                *fileName = name;
            return int(QMessageBox::Ok);
        });
        child<QPushButton>(tab, "saveBtn")->click();
        QCOMPARE(readFile(name), OutEn + "01 03 00 00 00 27 05 D0\r\n");
        time->click();
        const QRegularExpression timed(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d OUT→◇01 03 00 00 00 27 05 D0$"));
        QVERIFY2(timed.match(view->toPlainText()).hasMatch(), qPrintable(view->toPlainText()));
        QVERIFY(QFile::remove(name));
        child<QPushButton>(tab, "saveBtn")->click();
        Dialogs::clearHook();
        QCOMPARE(QString::fromUtf8(readFile(name)), view->toPlainText() + "\r\n");
        child<QPushButton>(tab, "clearBtn")->click();
        QCOMPARE(w.commLog().lineCount(), qint64(0));
        QVERIFY(view->toPlainText().isEmpty());
    }
};

QTEST_MAIN(TestCommLog)
#include "tst_commlog.moc"
