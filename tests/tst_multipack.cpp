// Several packs on one line, at the pace users run and without waiting for
// it: the window on a fake port, one simulated pack per ID answering in the
// same process, the line's clock under the test's hand. Each turn of the
// cycle is one tick, the answer of the pack that was asked, and the silence
// after it.
#include "bmsmodel.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/bmsmonitoring.h"
#include "pages/presetparameters.h"
#include "pages/packspage.h"
#include "pages/pandidrw.h"
#include "pages/packtablemodel.h"
#include "slaveresponder.h"
#include "support/e2e.h"
#include "support/fakelinkport.h"
#include "support/helpers.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QtTest>

#include <map>
#include <memory>

namespace {

QString serialOf(int id) { return QStringLiteral("PS2026120600%1").arg(id, 3, 10, QLatin1Char('0')); }

struct Bus
{
    FakeLinkPort *port = new FakeLinkPort;
    MainWindow window{nullptr, port};
    std::map<int, std::unique_ptr<BmsModel>> models;
    std::map<int, std::unique_ptr<SlaveResponder>> packs;
    QSet<int> silent;
    // The monitoring answers each pack gave, in order.
    std::map<int, QList<QByteArray>> served;
    qint64 now = 0;

    explicit Bus(const QVector<quint8> &ids)
    {
        for (const quint8 id : ids) {
            models[id] = std::make_unique<BmsModel>(id * 7919u, QDateTime(QDate(2026, 3, 1), QTime(10, 0)));
            models[id]->setIdentity(QStringLiteral("PSX-16S"), QStringLiteral("V1.0"), serialOf(id));
            packs[id] = std::make_unique<SlaveResponder>(*models[id], id);
        }
        window.setClock([this] { return now; });
        window.setPollInterval(60000); // the test ticks, not the timer
        window.setPortName(QStringLiteral("fake"));
        window.setSlaveAddresses(ids);
    }
    // One pack's turn: the tick, the answer of the pack asked (the others
    // hear a request that is not theirs), the silence.
    void turn()
    {
        window.vsSerialSend();
        const QByteArrayList sent = port->written;
        port->written.clear();
        for (const QByteArray &request : sent) {
            const int id = quint8(request[0]);
            if (!packs.count(id) || silent.contains(id))
                continue;
            const QByteArray answer = packs[id]->answer(request, now);
            if (request.mid(1, 5) == hex("0300000027"))
                served[id] << answer;
            port->feed(answer);
        }
        now += 20;
        window.onFrameTimeout();
        now += 200;
        QCoreApplication::processEvents();
    }
    void cycles(int n)
    {
        for (int i = 0; i < n * int(packs.size()); ++i)
            turn();
    }
};

// A register of a read answer (address, function, byte count, data, CRC).
int reg(const QByteArray &answer, int n) { return quint8(answer[3 + 2 * n]) << 8 | quint8(answer[4 + 2 * n]); }

// The stored rows of one pack in order: voltage, SOC, cell 1 and cell 16.
QStringList storedRows(const QString &serial)
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
    q.prepare(QStringLiteral("select Total_Voltage,SOC,Vol_Cell01,Vol_Cell16 from total where BMS_ISDN=? order by id"));
    q.addBindValue(serial);
    q.exec();
    QStringList rows;
    while (q.next())
        rows << QStringLiteral("%1 %2 %3 %4").arg(q.value(0).toInt()).arg(q.value(1).toInt()).arg(q.value(2).toInt()).arg(q.value(3).toInt());
    return rows;
}
// The same values as the pack served them: registers 0, 24, 2 and 17.
QStringList servedRows(const QList<QByteArray> &answers)
{
    QStringList rows;
    for (const QByteArray &a : answers)
        rows << QStringLiteral("%1 %2 %3 %4").arg(reg(a, 0)).arg(reg(a, 24)).arg(reg(a, 2)).arg(reg(a, 17));
    return rows;
}

QString linkCell(MainWindow &w, int id)
{
    PackTableModel *m = w.packsPage()->model();
    return m->index(m->rowOf(quint8(id)), PackTableModel::Link).data().toString();
}

} // namespace

class TstMultiPack : public QObject
{
    Q_OBJECT
    E2e e; // fresh databases, the box hook

private slots:
    void init() { QSqlQuery(QSqlDatabase::database(QStringLiteral("connection1"))).exec(QStringLiteral("delete from total")); }

    // Each pack's rows are its own answers, in order, told apart by serial.
    void threePacksEachStoresItsOwn()
    {
        Bus bus({1, 3, 7});
        bus.window.on_monitorBtn_clicked();
        bus.cycles(12);
        for (const int id : {1, 3, 7}) {
            QCOMPARE(bus.served[id].size(), 11); // the identity read comes first
            QCOMPARE(storedRows(serialOf(id)), servedRows(bus.served[id]));
        }
        QCOMPARE(linkCell(bus.window, 3), QStringLiteral("Online"));
        QCOMPARE(bus.window.packsPage()->model()->index(2, PackTableModel::Serial).data().toString(), serialOf(7));
    }

    // Two packs that report one serial (their rows would mix in the history) are named in the log; so is, once,
    // an ID of the list that never answers.
    void sameSerialAndSilentIdAreNamed()
    {
        Bus bus({1, 3, 5, 7});
        bus.models[7]->setIdentity(QStringLiteral("PSX-16S"), QStringLiteral("V1.0"), serialOf(1));
        bus.silent.insert(5);
        bus.window.on_monitorBtn_clicked();
        bus.cycles(12);
        QStringList notes;
        for (qint64 i = 0; i < bus.window.commLog().lineCount(); ++i) {
            if (bus.window.commLog().line(i).startsWith(QStringLiteral("※")))
                notes << bus.window.commLog().line(i);
        }
        QCOMPARE(notes, QStringList({"※ ID 1 online: PS2026120600001", "※ ID 3 online: PS2026120600003",
                                     "※ ID 7 online: PS2026120600001",
                                     "※ ID 7 reports the same serial as ID 1 (PS2026120600001): the history cannot tell "
                                     "their rows apart",
                                     "※ ID 5 does not answer: no pack with this ID on the line?"}));
    }

    // A pack that falls silent goes offline alone; it comes back by itself.
    void silentPackGoesOfflineAlone()
    {
        Bus bus({1, 3, 7});
        QSignalSpy offline(bus.window.session(), &BmsSession::offline);
        bus.window.on_monitorBtn_clicked();
        bus.cycles(3);
        bus.silent.insert(3);
        bus.cycles(7); // five unanswered reads take it offline
        QCOMPARE(linkCell(bus.window, 3), QStringLiteral("Offline"));
        QCOMPARE(linkCell(bus.window, 1) + linkCell(bus.window, 7), QStringLiteral("OnlineOnline"));
        QCOMPARE(offline.count(), 0); // the selected pack (1) is still there
        const int storedOf3 = storedRows(serialOf(3)).size();
        const int storedOf7 = storedRows(serialOf(7)).size();
        bus.cycles(4);
        QCOMPARE(storedRows(serialOf(3)).size(), storedOf3);
        QCOMPARE(storedRows(serialOf(7)).size(), storedOf7 + 4);
        bus.silent.clear();
        bus.cycles(3);
        QCOMPARE(linkCell(bus.window, 3), QStringLiteral("Online"));
        QCOMPARE(storedRows(serialOf(3)), servedRows(bus.served[3]));
    }

    // Selecting a row moves the pages to that pack: the real-time page shows
    // its serial, and its parameters are read for the parameter page.
    void selectingAPackMovesThePages()
    {
        Bus bus({1, 3, 7});
        bus.window.on_monitorBtn_clicked();
        bus.cycles(2);
        QCOMPARE(child<QLineEdit>(bus.window.monitoringPage(), "serial_num")->text(), serialOf(1));
        QVERIFY(bus.window.packsPage()->selectPack(7));
        QCOMPARE(serialText(liveData()), serialOf(7));
        QCOMPARE(child<QLineEdit>(bus.window.monitoringPage(), "serial_num")->text(), serialOf(7));
        // Its parameters are read at once: the page shows this pack's values.
        QByteArrayList sent;
        for (int i = 0; i < 3; ++i) {
            bus.window.vsSerialSend();
            sent << bus.port->written;
            bus.port->written.clear();
            bus.now += 220;
        }
        QVERIFY2(sent.contains(hex("0703002D005B945E")), qPrintable(QString::fromLatin1(sent.join(' ').toHex(' '))));
        // The others, pack 1 that was selected before too, are only read.
        for (const QByteArray &frame : sent)
            QVERIFY(quint8(frame[0]) == 7 || frame.mid(1, 5) == hex("0300000027"));
    }

    // The ID command names no pack: with several on the line it asks
    // first, and the box's Cancel sends nothing.
    void idCommandOnASharedLineAsksFirst()
    {
        Bus bus({1, 3, 7});
        child<QComboBox>(bus.window.addressPage(), "rw_id_cb")->setEditText(QStringLiteral("12"));
        bus.window.addressPage()->on_select_id_clicked();
        QCOMPARE(e.boxes.value(0), QStringLiteral("Warning: The ID command carries no address: every pack on the line "
                                                  "takes ID 12.\r\nConnect only the pack to be set, then set it."));
        QVERIFY(bus.port->written.isEmpty());
        e.boxes.clear();
    }

    // Where the line cannot carry every pack once a period, the cycle
    // stretches and the status bar says so. A turn must hold the parameter
    // read (8 + 187 bytes, 10 bits each) and 40 ms for the pack: 57 ms at
    // 115200 baud, 244 ms at 9600.
    void lineCarriesOrStretches_data()
    {
        columns<QString, int, QString>("ids", "baud", "status");
        QTest::newRow("16 packs at 115200") << "1-16" << 115200 << "";
        QTest::newRow("4 packs at 9600") << "1-4" << 9600 << "";
        QTest::newRow("5 packs at 9600") << "1-5" << 9600 << "5 packs: each sampled every 1.2 s (all the line can carry)";
        QTest::newRow("16 packs at 9600") << "1-16" << 9600 << "16 packs: each sampled every 3.9 s (all the line can carry)";
    }
    void lineCarriesOrStretches()
    {
        QFETCH(QString, ids);
        QFETCH(int, baud);
        MainWindow w(nullptr, new FakeLinkPort);
        w.setPortName(QStringLiteral("fake"));
        w.setBaudRate(baud);
        child<QComboBox>(&w, "comboBox")->setEditText(ids);
        w.on_monitorBtn_clicked();
        QTEST(child<QLabel>(&w, "storeLabel")->text(), "status");
    }
};

QTEST_MAIN(TstMultiPack)
#include "tst_multipack.moc"
