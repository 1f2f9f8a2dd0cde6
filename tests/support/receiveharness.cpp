#include "support/receiveharness.h"

#include "app/mainwindow.h"
#include "gui/dialogs.h"
#include "protocol/frames.h"
#include "protocol/recordread.h"
#include "model/livedata.h"
#include "pages/historymonitoring.h"
#include "store/schema.h"
#include "support/fakelinkport.h"

#include <QApplication>
#include <QComboBox>

namespace ReceiveHarness {

namespace {
MainWindow *window = nullptr;
FakeLinkPort *port = nullptr;
qint64 clockMs = 0;
int runs = 0;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

void initialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet);
    new QApplication(*argc, *argv);
    (void)Schema::openDatabase(QStringLiteral("connection1"), QStringLiteral(":memory:"),
                               QString::fromLatin1(Schema::CreateTotalTable), QStringLiteral("total"));
    (void)Schema::openDatabase(QStringLiteral("connection2"), QStringLiteral(":memory:"),
                               QString::fromLatin1(Schema::CreateRecordTable), QStringLiteral("record"));
    Dialogs::setHook([](const Dialogs::Request &, QString *) { return int(QMessageBox::Ok); });
    port = new FakeLinkPort;
    window = new MainWindow(nullptr, port);
    window->setClock([] { return clockMs; });
    window->setPollInterval(1 << 30); // ticks come from the input only
    window->setPortName(QStringLiteral("fuzz"));
}

void runOne(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return;
    SerialLink *link = window->link();
    const int kind = data[0] & 7;
    const quint8 language = (data[0] & 0x80) ? 0 : 1;
    window->findChild<QComboBox *>(QStringLiteral("lgCB"))->setCurrentIndex(language);
    liveData() = BmsLiveData{};

    if (kind == 5) {
        if (window->isMonitoring())
            window->on_monitorBtn_clicked();
        QByteArray command(6, '\0');
        command[0] = char(Frames::CommandAddress);
        const quint8 code = data[1] & 7;
        command[1] = char(code);
        if (code >= 5) {
            command[2] = 1;
            command[3] = char(data[2]);
        } else {
            command.resize(5);
        }
        (void)link->sendCommand(command); // the fuzz input decides what comes back
    } else {
        if (!window->isMonitoring())
            window->on_monitorBtn_clicked();
        if (kind <= 4) {
            liveData().nextRequest = quint16(kind);
            const quint16 values[2] = {quint16(data[1] * 257), quint16(data[2] * 257)};
            const QByteArray write = Frames::writeRegisters(1, data[1], values, 1 + (data[2] & 1));
            const QByteArray record = RecordRead::requestFrame(quint32(data[1] << 8 | data[2]));
            link->setWriteFrameSource([write] { return write; });
            link->setRecordFrameSource([record] { return record; });
            link->vsSerialSend();
        }
    }

    for (std::size_t i = 3; i < size;) {
        const int op = data[i] >> 6, v = data[i] & 0x3F;
        ++i;
        switch (op) {
        case 0: {
            const std::size_t n = std::min<std::size_t>(std::size_t(v) + 1, size - i);
            port->feed(QByteArray(reinterpret_cast<const char *>(data + i), int(n)));
            i += n;
            break;
        }
        case 1:
            clockMs += 20 + v;
            link->onFrameTimeout();
            break;
        case 2:
            clockMs += v;
            break;
        default:
            link->vsSerialSend();
            break;
        }
    }
    clockMs += 1000;
    link->onFrameTimeout();
    // What the dispatcher left for after its return (boxes, queued calls).
    QCoreApplication::sendPostedEvents();
    port->written.clear();

    // Keep a long run's memory flat.
    if (++runs % 4096 == 0) {
        window->historyPage()->on_clearBtn_clicked();
        window->on_clearBtn_clicked();
    }
}

} // namespace ReceiveHarness
