#include "app/commlog.h"
#include "app/dialogs.h"
#include "app/mainwindow.h"
#include "link/frames.h"
#include "model/livedata.h"
#include "support/testenv.h"

#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

namespace {

// The prefixes as they must appear in a saved file, spelled out in UTF-8.
const QByteArray OutEn = QByteArray::fromHex("4f5554e28692e29787");   // OUT→◇
const QByteArray InEn = QByteArray::fromHex("494ee28690e29786");       // IN←◆
const QByteArray OutZh = QByteArray::fromHex("e58f91e28692e29787");   // 发→◇
const QByteArray InZh = QByteArray::fromHex("e694b6e28690e29786");    // 收←◆

const QByteArray MonitorReadFrame = QByteArray::fromHex("010300000027" "05d0");
const QByteArray WriteAck = QByteArray::fromHex("011000430001" "f01d");

QByteArray readAll(const QString &fileName)
{
    QFile f(fileName);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A frame that differs from line to line and whose length wanders from 0 to
// well past the 255 bytes one length byte could hold.
QByteArray numberedFrame(int n)
{
    QByteArray frame;
    frame.append(char(n & 0xFF)).append(char((n >> 8) & 0xFF));
    const int extra = (n * 37) % 420;
    for (int i = 0; i < extra; ++i)
        frame.append(char((n + i) & 0xFF));
    return n % 97 == 0 ? QByteArray() : frame;
}

CommLog::Direction directionOf(int n) { return n % 3 == 0 ? CommLog::Received : CommLog::Sent; }

QStringList viewLines(const QPlainTextEdit &view)
{
    return view.toPlainText().split(QLatin1Char('\n'));
}

// A button on the communication tab (tab 4).
QPushButton *commTabButton(const MainWindow &w, const char *name)
{
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QWidget *tab = tabs ? tabs->widget(4) : nullptr;
    return tab ? tab->findChild<QPushButton *>(QLatin1String(name)) : nullptr;
}

} // namespace

class TestCommLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void lineFormat_data();
    void lineFormat();

    void saveAppendsExactBytes();
    void saveFailsOnUnwritablePath_data();
    void saveFailsOnUnwritablePath();

    void clearThenNextLineIsFirst();
    void viewHoldsNewestSaveWritesAll();
    void everyLineSurvivesTheStore_data();
    void everyLineSurvivesTheStore();

    void windowSaveAndClear();

private:
    QTemporaryDir m_dir;
};

void TestCommLog::initTestCase()
{
    TestEnv::openFreshDatabases();
    QVERIFY(m_dir.isValid());
}

void TestCommLog::cleanup()
{
    Dialogs::clearHook();
}

void TestCommLog::lineFormat_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("expected");

    QTest::newRow("monitor read, English") << int(CommLog::Sent) << MonitorReadFrame << 1
                                           << QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0");
    QTest::newRow("write ack, English") << int(CommLog::Received) << WriteAck << 1
                                        << QStringLiteral("IN←◆01 10 00 43 00 01 F0 1D");
    QTest::newRow("monitor read, Chinese") << int(CommLog::Sent) << MonitorReadFrame << 0
                                           << QStringLiteral("发→◇01 03 00 00 00 27 05 D0");
    QTest::newRow("write ack, Chinese") << int(CommLog::Received) << WriteAck << 0
                                        << QStringLiteral("收←◆01 10 00 43 00 01 F0 1D");
    QTest::newRow("letters upper case") << int(CommLog::Received) << QByteArray::fromHex("abcdef0f") << 1
                                        << QStringLiteral("IN←◆AB CD EF 0F");
    QTest::newRow("one byte") << int(CommLog::Sent) << QByteArray(1, '\x7f') << 1
                              << QStringLiteral("OUT→◇7F");
    QTest::newRow("no bytes") << int(CommLog::Sent) << QByteArray() << 1 << QStringLiteral("OUT→◇");
    // Any other language writes no line.
    QTest::newRow("language 2") << int(CommLog::Sent) << MonitorReadFrame << 2 << QString();
    QTest::newRow("language -1") << int(CommLog::Received) << WriteAck << -1 << QString();
}

void TestCommLog::lineFormat()
{
    QFETCH(int, direction);
    QFETCH(QByteArray, bytes);
    QFETCH(int, language);
    QFETCH(QString, expected);

    QPlainTextEdit view;
    CommLog log(&view);
    log.logFrame(CommLog::Direction(direction), bytes, language);
    if (expected.isEmpty()) {
        QVERIFY(CommLog::prefix(CommLog::Direction(direction), language).isEmpty());
        QCOMPARE(log.lineCount(), qint64(0));
        QVERIFY(view.toPlainText().isEmpty());
        return;
    }
    QCOMPARE(log.lineCount(), qint64(1));
    QCOMPARE(log.line(0), expected);
    QCOMPARE(view.toPlainText(), expected);
    QCOMPARE(CommLog::formatLine(CommLog::Direction(direction), bytes, language), expected);
    if (bytes.size() == 8) // 8 x 2 digits and 7 blanks after the prefix
        QCOMPARE(expected.size() - CommLog::prefix(CommLog::Direction(direction), language).size(), 23);
    // The cursor sits at the end, so the newest line is in view.
    QVERIFY(view.textCursor().atEnd());
    QVERIFY(!view.textCursor().hasSelection());
}

void TestCommLog::saveAppendsExactBytes()
{
    const QString name = m_dir.filePath(QStringLiteral("twice.txt"));
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier\r\n");
    }
    CommLog log(nullptr);
    log.logFrame(CommLog::Sent, MonitorReadFrame, 1);
    log.logFrame(CommLog::Received, WriteAck, 1);
    log.logFrame(CommLog::Sent, MonitorReadFrame, 0);
    log.logFrame(CommLog::Received, WriteAck, 0);
    QVERIFY(log.appendTo(name));
    QVERIFY(log.appendTo(name));

    const QByteArray copy = OutEn + "01 03 00 00 00 27 05 D0\n" + InEn + "01 10 00 43 00 01 F0 1D\n"
        + OutZh + "01 03 00 00 00 27 05 D0\n" + InZh + "01 10 00 43 00 01 F0 1D\r\n";
    QCOMPARE(readAll(name), "earlier\r\n" + copy + copy);
    // Saving leaves the log as it was.
    QCOMPARE(log.lineCount(), qint64(4));
}

void TestCommLog::saveFailsOnUnwritablePath_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no/such/folder/log.txt"));
    QTest::newRow("a folder") << m_dir.path();
    QTest::newRow("empty name") << QString();
}

void TestCommLog::saveFailsOnUnwritablePath()
{
    QFETCH(QString, fileName);
    CommLog log(nullptr);
    log.logFrame(CommLog::Sent, MonitorReadFrame, 1);
    QVERIFY(!log.appendTo(fileName));
    if (!fileName.isEmpty())
        QVERIFY(!QFileInfo(fileName).isFile());
    QCOMPARE(log.lineCount(), qint64(1));
}

void TestCommLog::clearThenNextLineIsFirst()
{
    QPlainTextEdit view;
    CommLog log(&view);
    // Enough lines to fill packed blocks as well as the open one.
    for (int n = 0; n < CommLog::BlockLines * 2 + 10; ++n)
        log.logFrame(CommLog::Sent, MonitorReadFrame, 1);
    log.clear();
    QCOMPARE(log.lineCount(), qint64(0));
    QVERIFY(view.toPlainText().isEmpty());
    QCOMPARE(log.line(0), QString());
    // An empty log saves as its empty text followed by the line end.
    const QString empty = m_dir.filePath(QStringLiteral("empty.txt"));
    QVERIFY(log.appendTo(empty));
    QCOMPARE(readAll(empty), QByteArray("\r\n"));

    log.logFrame(CommLog::Received, WriteAck, 1);
    QCOMPARE(log.lineCount(), qint64(1));
    QCOMPARE(log.line(0), QStringLiteral("IN←◆01 10 00 43 00 01 F0 1D"));
    QCOMPARE(view.toPlainText(), log.line(0));
    const QString name = m_dir.filePath(QStringLiteral("cleared.txt"));
    QVERIFY(log.appendTo(name));
    QCOMPARE(readAll(name), InEn + "01 10 00 43 00 01 F0 1D\r\n");
}

void TestCommLog::viewHoldsNewestSaveWritesAll()
{
    constexpr int Lines = 10050;
    QPlainTextEdit view;
    CommLog log(&view);
    QStringList expected;
    for (int n = 0; n < Lines; ++n) {
        const QByteArray frame = numberedFrame(n);
        log.logFrame(directionOf(n), frame, n % 2);
        expected << CommLog::formatLine(directionOf(n), frame, n % 2);
        if (n + 1 == CommLog::ViewLines) // full, not yet trimmed
            QCOMPARE(view.blockCount(), CommLog::ViewLines);
    }
    QCOMPARE(log.lineCount(), qint64(Lines));

    // The view: the newest lines only, never more than ViewLines, the
    // newest last and the cursor after it.
    const QStringList shown = viewLines(view);
    QVERIFY(shown.size() <= CommLog::ViewLines);
    QVERIFY(shown.size() >= CommLog::ViewLines - CommLog::ViewTrim);
    QCOMPARE(shown, expected.mid(Lines - shown.size()));
    QVERIFY(view.textCursor().atEnd());

    // Save: every line, the oldest first.
    const QString name = m_dir.filePath(QStringLiteral("all.txt"));
    QVERIFY(log.appendTo(name));
    const QByteArray saved = readAll(name);
    QVERIFY(saved.endsWith("\r\n"));
    QCOMPARE(saved.count("\r\n"), 1);
    const QList<QByteArray> savedLines = saved.left(saved.size() - 2).split('\n');
    QCOMPARE(savedLines.size(), Lines);
    QCOMPARE(QString::fromUtf8(savedLines.first()), expected.first());
    QCOMPARE(QString::fromUtf8(savedLines.last()), expected.last());
    for (int n = 0; n < Lines; ++n) {
        if (QString::fromUtf8(savedLines[n]) != expected[n])
            QFAIL(qPrintable(QStringLiteral("saved line %1 differs").arg(n)));
    }
    // Lines long gone from the view are still there one by one.
    QCOMPARE(log.line(0), expected[0]);
    QCOMPARE(log.line(CommLog::BlockLines - 1), expected[CommLog::BlockLines - 1]);
    QCOMPARE(log.line(CommLog::BlockLines), expected[CommLog::BlockLines]);
    QCOMPARE(log.line(Lines - 1), expected.last());
    QCOMPARE(log.line(Lines), QString());
    QCOMPARE(log.line(-1), QString());
}

void TestCommLog::everyLineSurvivesTheStore_data()
{
    QTest::addColumn<bool>("random");
    QTest::newRow("repetitive lines (packed)") << false;
    QTest::newRow("random lines (kept unpacked)") << true;
}

void TestCommLog::everyLineSurvivesTheStore()
{
    QFETCH(bool, random);
    QRandomGenerator rng(7);
    CommLog log(nullptr);
    QStringList expected;
    for (int n = 0; n < CommLog::BlockLines * 3 + 17; ++n) {
        QByteArray frame = random ? QByteArray(int(rng.bounded(300)), '\0') : numberedFrame(n % 50);
        for (char &c : frame)
            if (random)
                c = char(rng.bounded(256));
        log.logFrame(directionOf(n), frame, n % 2);
        expected << CommLog::formatLine(directionOf(n), frame, n % 2);
    }
    for (int n = 0; n < expected.size(); ++n) {
        if (log.line(n) != expected[n])
            QFAIL(qPrintable(QStringLiteral("line %1 differs").arg(n)));
    }
    const QString name = m_dir.filePath(random ? QStringLiteral("random.txt") : QStringLiteral("repeat.txt"));
    QVERIFY(log.appendTo(name));
    QCOMPARE(readAll(name), expected.join(QLatin1Char('\n')).toUtf8() + "\r\n");
}

void TestCommLog::windowSaveAndClear()
{
    TestEnv::resetLiveData();
    MainWindow w;
    auto *view = w.findChild<QPlainTextEdit *>(QStringLiteral("textEdit"));
    QVERIFY(view);
    // The history page has buttons of the same names: take the log's own.
    auto *saveBtn = commTabButton(w, "saveBtn");
    auto *clearBtn = commTabButton(w, "clearBtn");
    auto *lgCB = w.findChild<QComboBox *>(QStringLiteral("lgCB"));
    QVERIFY(saveBtn && clearBtn && lgCB);

    // Two poll ticks while idle: each writes a monitoring read and logs it.
    liveData().nextRequest = MonitorRead;
    w.vsSerialSend();
    w.vsSerialSend();
    QCOMPARE(w.commLog().lineCount(), qint64(2));
    QCOMPARE(viewLines(*view), QStringList({QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0"), QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0")}));

    const QString name = m_dir.filePath(QStringLiteral("window.txt"));
    QList<Dialogs::Request> asked;
    Dialogs::setHook([&](const Dialogs::Request &r, QString *fileName) {
        asked << r;
        if (fileName)
            *fileName = name;
        return int(QMessageBox::Ok);
    });
    saveBtn->click();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].kind, Dialogs::Request::SaveFile);
    QCOMPARE(asked[0].title, QStringLiteral("Save File"));
    QCOMPARE(asked[0].text, QStringLiteral("Text File(*.txt)"));
    QCOMPARE(asked[0].parent, &w);
    const QByteArray line = OutEn + "01 03 00 00 00 27 05 D0";
    QCOMPARE(readAll(name), line + "\n" + line + "\r\n");

    // Clear empties the log; the next tick's line is the first one.
    clearBtn->click();
    QCOMPARE(w.commLog().lineCount(), qint64(0));
    QVERIFY(view->toPlainText().isEmpty());
    lgCB->setCurrentIndex(0);
    w.vsSerialSend();
    QCOMPARE(w.commLog().lineCount(), qint64(1));
    QCOMPARE(view->toPlainText(), QStringLiteral("发→◇01 03 00 00 00 27 05 D0"));

    // In Chinese the dialog asks in Chinese; the file grows by the new log.
    saveBtn->click();
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked[1].title, QStringLiteral("保存文件"));
    QCOMPARE(asked[1].text, QStringLiteral("文本文件(*.txt)"));
    const QByteArray both = line + "\n" + line + "\r\n" + OutZh + "01 03 00 00 00 27 05 D0\r\n";
    QCOMPARE(readAll(name), both);

    // A cancelled dialog writes nothing.
    Dialogs::setHook([&](const Dialogs::Request &r, QString *fileName) {
        asked << r;
        if (fileName)
            fileName->clear();
        return int(QMessageBox::Ok);
    });
    saveBtn->click();
    QCOMPARE(asked.size(), 3);
    QCOMPARE(readAll(name), both);
    QCOMPARE(w.commLog().lineCount(), qint64(1));
}

QTEST_MAIN(TestCommLog)
#include "tst_commlog.moc"
