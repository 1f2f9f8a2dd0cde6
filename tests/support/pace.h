#pragma once

// The pack at the pace users run, without waiting for it: a window on a
// fake port, the simulator's model answering in the same process, the
// line's clock and the PC's clock both under the test's hand. Each "second"
// is one poll tick, the pack's answer and the silence after it.
#include "app/mainwindow.h"
#include "bmsmodel.h"
#include "pages/presetparameters.h"
#include "slaveresponder.h"
#include "support/fakelinkport.h"
#include "support/helpers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPushButton>
#include <functional>

// The pack, the window on a fake port, the line's clock and the PC's clock.
struct Pace
{
    FakeLinkPort *port = new FakeLinkPort;
    MainWindow window{nullptr, port};
    QDateTime pc{QDate(2026, 3, 1), QTime(10, 0, 0)};
    BmsModel model{1, pc};
    SlaveResponder slave{model, 1};
    qint64 now = 0;
    bool ackWrites = true;
    QList<quint16> writes; // registers of the write frames sent, in order
    int reads = 0;         // parameter reads sent

    Pace()
    {
        window.setClock([this] { return now; });
        window.setPollInterval(60000); // the test ticks, not the timer
        window.setPortName(QStringLiteral("fake"));
        window.parameterPage()->writer()->setClock([this] { return pc; });
    }
    // Called with every frame the tool sends and every answer the pack gives.
    std::function<void(const QByteArray &request, const QByteArray &answer)> onExchange;
    // One second of the line: a poll tick, then the pack's answers.
    void second()
    {
        window.vsSerialSend();
        answerAndWait();
    }
    // The pack answers what was sent since the last time (a tick's request
    // or a command sent directly), then the line stays silent for the rest
    // of the second.
    void answerAndWait()
    {
        const QByteArrayList sent = port->written;
        port->written.clear();
        for (const QByteArray &request : sent) {
            const bool write = quint8(request[1]) == 0x10 && quint8(request[0]) != 0x10;
            if (write)
                writes << quint16(quint8(request[2]) << 8 | quint8(request[3]));
            if (request.startsWith(hex("0103002D005B")))
                ++reads;
            QByteArray answer = slave.answer(request, now);
            if (write && !ackWrites)
                answer.clear();
            if (onExchange)
                onExchange(request, answer);
            if (!answer.isEmpty())
                port->feed(answer);
        }
        now += 20;
        window.onFrameTimeout();
        now += 980;
        pc = pc.addSecs(1);
        QCoreApplication::processEvents(); // deferred boxes
    }
    // Seconds until `done`, at most `limit`; -1 when it never came.
    int secondsUntil(const std::function<bool()> &done, int limit = 200)
    {
        for (int s = 1; s <= limit; ++s) {
            second();
            if (done())
                return s;
        }
        return -1;
    }
    bool online()
    {
        window.on_monitorBtn_clicked();
        return secondsUntil([this] { return child<QPushButton>(window.parameterPage(), "set")->isEnabled(); }, 5) > 0;
    }
    QDateTime packClock()
    {
        model.prepareRead(45, 2, now);
        return BmsModel::clockTime(quint32(model.reg(45)) << 16 | model.reg(46));
    }
};

