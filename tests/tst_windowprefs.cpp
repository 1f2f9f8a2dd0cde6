// What the window remembers and tells: the time stamps of the log, the last
// choices restored at the next start, and the About box in both languages.
#include "app/mainwindow.h"
#include "gui/dialogs.h"
#include "model/livedata.h"
#include "support/testenv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QtTest>

class TestWindowPrefs : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    template <typename T>
    static T *child(const MainWindow &w, const char *name)
    {
        return w.findChild<T *>(QLatin1String(name));
    }

private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); }
    void cleanup() { Dialogs::clearHook(); }

    void timeInViewAndSavedFile()
    {
        TestEnv::resetLiveData();
        MainWindow w;
        QWidget *tab = child<QTabWidget>(w, "tabWidget")->widget(4);
        auto *time = tab->findChild<QCheckBox *>(QStringLiteral("timeCB"));
        auto *view = tab->findChild<QPlainTextEdit *>(QStringLiteral("textEdit"));
        QVERIFY(time && view);
        QCOMPARE(time->text(), QStringLiteral("Time"));
        QVERIFY(!time->isChecked());
        child<QComboBox>(w, "lgCB")->setCurrentIndex(0);
        QCOMPARE(time->text(), QStringLiteral("时间"));
        child<QComboBox>(w, "lgCB")->setCurrentIndex(1);

        emit w.link()->frameSent(QByteArray::fromHex("010300000027 05D0")); // as the link reports a request
        QCOMPARE(view->toPlainText(), QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0"));
        time->click();
        const QRegularExpression timed(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d OUT→◇01 03 00 00 00 27 05 D0$"));
        QVERIFY2(timed.match(view->toPlainText()).hasMatch(), qPrintable(view->toPlainText()));
        const QString name = m_dir.filePath(QStringLiteral("log.txt"));
        Dialogs::setHook([&](const Dialogs::Request &, QString *fileName) {
            if (fileName)
                *fileName = name;
            return int(QMessageBox::Ok);
        });
        tab->findChild<QPushButton *>(QStringLiteral("saveBtn"))->click();
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString saved = QString::fromUtf8(f.readAll());
        QVERIFY(saved.endsWith("\r\n"));
        QCOMPARE(saved.chopped(2), view->toPlainText());
        QVERIFY(timed.match(saved.chopped(2)).hasMatch());
    }

    void lastChoicesComeBack()
    {
        const QString file = m_dir.filePath(QStringLiteral("packscope.conf"));
        {
            // First start: nothing stored, the window's defaults stand.
            QSettings empty(file, QSettings::IniFormat);
            MainWindow w;
            w.restoreSettings(empty);
            QCOMPARE(child<QComboBox>(w, "lgCB")->currentIndex(), 1);
            QCOMPARE(child<QComboBox>(w, "baudCB")->currentText(), QStringLiteral("115200"));
            QCOMPARE(child<QComboBox>(w, "comboBox")->currentText(), QStringLiteral("1"));
            QVERIFY(!child<QCheckBox>(w, "timeCB")->isChecked());
            child<QComboBox>(w, "lgCB")->setCurrentIndex(0);
            w.setBaudRate(9600);
            w.setSlaveAddress(17);
            w.setPortName(QStringLiteral("/dev/ttyUSB3"));
            child<QCheckBox>(w, "timeCB")->setChecked(true);
            QSettings store(file, QSettings::IniFormat);
            w.saveSettings(store);
        }
        QSettings stored(file, QSettings::IniFormat);
        MainWindow w;
        w.restoreSettings(stored);
        QCOMPARE(child<QComboBox>(w, "lgCB")->currentIndex(), 0);
        QCOMPARE(child<QPushButton>(w, "monitorBtn")->text(), QStringLiteral("开始监控"));
        QCOMPARE(child<QComboBox>(w, "baudCB")->currentText(), QStringLiteral("9600"));
        QCOMPARE(child<QComboBox>(w, "comboBox")->currentText(), QStringLiteral("17"));
        QCOMPARE(child<QComboBox>(w, "serialNumCB")->currentText(), QStringLiteral("/dev/ttyUSB3"));
        QVERIFY(child<QCheckBox>(w, "timeCB")->isChecked());
        QVERIFY(w.commLog().showTime());
    }

    void aboutBox_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("folderLine");
        QTest::newRow("English") << 1 << "Help" << "About" << "About PackScope" << "Data folder: /srv/bms";
        QTest::newRow("Chinese") << 0 << "帮助" << "关于" << "关于 PackScope" << "数据文件夹：/srv/bms";
    }
    void aboutBox()
    {
        QFETCH(int, language);
        MainWindow w;
        w.setDataFolder(QStringLiteral("/srv/bms"));
        child<QComboBox>(w, "lgCB")->setCurrentIndex(language);
        QList<Dialogs::Request> boxes;
        Dialogs::setHook([&](const Dialogs::Request &r, QString *) {
            boxes << r;
            return int(QMessageBox::Ok);
        });
        QTEST(child<QMenu>(w, "helpMenu")->title(), "menu");
        auto *about = w.findChild<QAction *>(QStringLiteral("aboutAction"));
        QTEST(about->text(), "action");
        about->trigger();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].kind, Dialogs::Request::About);
        QTEST(boxes[0].title, "title");
        QCOMPARE(boxes[0].parent, &w);
        const QStringList lines = boxes[0].text.split('\n');
        QCOMPARE(lines.first(), QStringLiteral("PackScope " PACKSCOPE_VERSION));
        QFETCH(QString, folderLine);
        QVERIFY2(lines.contains(folderLine), qPrintable(boxes[0].text));
        QVERIFY(lines.last().endsWith(QLatin1String(qVersion())));
    }
};

QTEST_MAIN(TestWindowPrefs)
#include "tst_windowprefs.moc"
