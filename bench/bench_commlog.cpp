// Communication log under a long run: logs 1,000,000 typical lines (half
// 8-byte monitoring reads, half 83-byte monitoring answers) into a CommLog
// bound to a shown QPlainTextEdit and prints
//   - the cost of one line with about 1,000 and about 1,000,000 lines held,
//   - the resident memory above an empty log,
//   - the time to re-wrap the view after the window is widened,
//   - the time to save all lines,
// each against its target. With --compare it also fills a plain QTextEdit
// with 200,000 lines, the way a log without a store of its own would hold
// them, and prints its memory and re-wrap time.

#include "app/commlog.h"
#include "protocol/crc16.h"
#include "protocol/frames.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int Batch = CommLog::BlockLines; // a batch includes one block packing
constexpr int Rounds = 9;
constexpr int SmallHeld = 1000;
constexpr int EventsEvery = 50; // lines between two turns of the event loop
constexpr int Width = 1100, WiderWidth = 1600, Height = 560;

// CPU time of this thread in nanoseconds: on a machine shared with other work
// the wall clock says more about the neighbours than about the log.
qint64 cpuNs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double rssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// A pack drifting through a day: cell voltages with a few millivolts of
// noise, a wandering current, temperatures that move now and then, a slowly
// falling charge. Each answer is a full function-3 answer with its CRC.
std::vector<QByteArray> monitoringAnswers(int count)
{
    QRandomGenerator rng(12345);
    std::vector<QByteArray> answers;
    answers.reserve(size_t(count));
    int base = 3300, current = -1500, temp = 25, soc = 80;
    for (int n = 0; n < count; ++n) {
        base += int(rng.bounded(5)) - 2;
        current += int(rng.bounded(41)) - 20;
        if (rng.bounded(30) == 0)
            temp += int(rng.bounded(3)) - 1;
        if (n % 200 == 199)
            --soc;
        quint16 regs[39] = {};
        int total = 0;
        for (int c = 0; c < 16; ++c) {
            regs[2 + c] = quint16(base + int(rng.bounded(9)) - 4);
            total += regs[2 + c];
        }
        regs[0] = quint16(total / 10);
        regs[1] = quint16(qint16(current));
        regs[18] = quint16(temp + 3);
        regs[19] = quint16(temp);
        regs[20] = quint16(temp + 4);
        regs[21] = quint16(soc);
        regs[22] = 50;
        regs[23] = 98;
        regs[24] = quint16(soc);
        regs[25] = 0x0002;
        regs[29] = 17;
        regs[33] = quint16((temp << 8) | (temp + 1));
        regs[34] = quint16(((temp + 1) << 8) | temp);
        regs[36] = 16;
        regs[37] = 1000;
        QByteArray frame;
        frame.append(char(1)).append(char(3)).append(char(78));
        for (quint16 r : regs)
            frame.append(char(r >> 8)).append(char(r & 0xFF));
        frame.append(2, '\0');
        sealFrame(frame);
        answers.push_back(frame);
    }
    return answers;
}

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

// Widens the view, then waits until the event loop is idle and the viewport
// has been laid out and painted anew.
double rewrapMs(QWidget *view, QWidget *viewport)
{
    view->resize(Width, Height);
    QApplication::processEvents();
    viewport->repaint();
    QElapsedTimer t;
    t.start();
    view->resize(WiderWidth, Height);
    QApplication::processEvents();
    viewport->repaint();
    QApplication::processEvents();
    return msSince(t);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Typical traffic: a monitoring read, its answer, the next read, ...
struct Traffic
{
    QByteArray request = Frames::monitorRead(1);
    std::vector<QByteArray> answers = monitoringAnswers(8192);
    qint64 next = 0;

    void logOne(CommLog &log)
    {
        if (next % 2 == 0)
            log.logFrame(CommLog::Sent, request, 1);
        else
            log.logFrame(CommLog::Received, answers[size_t(next / 2) % answers.size()], 1);
        // The event loop turns now and then, as it would between polls.
        if (next % EventsEvery == 0)
            QApplication::processEvents();
        ++next;
    }
};

struct BatchCost
{
    double cpuUs, wallUs; // per line
};

BatchCost logBatch(CommLog &log, Traffic &traffic, int lines)
{
    QElapsedTimer t;
    t.start();
    const qint64 cpu0 = cpuNs();
    for (int k = 0; k < lines; ++k)
        traffic.logOne(log);
    return {double(cpuNs() - cpu0) / 1000.0 / lines, double(t.nsecsElapsed()) / 1000.0 / lines};
}

const char *verdict(bool ok) { return ok ? "PASS" : "FAIL"; }

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool compare = args.contains(QStringLiteral("--compare"));
    // --lines N for a quicker look; the targets are for 1,000,000.
    const int linesArg = args.indexOf(QStringLiteral("--lines"));
    const qint64 totalLines = linesArg > 0 ? std::max<qint64>(args.value(linesArg + 1).toLongLong(), Batch)
                                           : 1000000;

    Traffic traffic;
    QPlainTextEdit view;
    view.resize(Width, Height);
    view.show();
    CommLog log(&view);
    QApplication::processEvents();
    const double rssEmpty = rssMb();

    // Fill, noting the cost of each batch on the way.
    std::vector<double> fillCpu;
    QElapsedTimer total;
    total.start();
    while (traffic.next < totalLines)
        fillCpu.push_back(logBatch(log, traffic, int(std::min<qint64>(Batch, totalLines - traffic.next))).cpuUs);
    QApplication::processEvents();
    const double fillS = msSince(total) / 1000.0;
    const double rssFull = rssMb();
    const double memAbove = rssFull - rssEmpty;
    const qint64 storeBytes = log.storeBytes();

    // The cost of a line with about 1,000 lines held and with the whole log
    // held, measured side by side: batches into a fresh log (cleared and
    // refilled to 1,000 lines before each) alternate with batches into the
    // full one, so that what the rest of the machine does meets both alike.
    QPlainTextEdit smallView;
    smallView.resize(Width, Height);
    smallView.show();
    CommLog smallLog(&smallView);
    std::vector<double> smallCpu, fullCpu, smallWall, fullWall;
    for (int r = 0; r < Rounds; ++r) {
        smallLog.clear();
        logBatch(smallLog, traffic, SmallHeld);
        const BatchCost small = logBatch(smallLog, traffic, Batch);
        const BatchCost full = logBatch(log, traffic, Batch);
        smallCpu.push_back(small.cpuUs);
        smallWall.push_back(small.wallUs);
        fullCpu.push_back(full.cpuUs);
        fullWall.push_back(full.wallUs);
    }
    const double costSmall = median(smallCpu), costFull = median(fullCpu);
    const double ratio = costFull / costSmall;

    double rewrap = 0;
    for (int r = 0; r < 3; ++r)
        rewrap = std::max(rewrap, rewrapMs(&view, view.viewport()));

    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("log.txt"));
    QElapsedTimer t;
    t.start();
    const bool saved = log.appendTo(fileName).ok();
    const double saveMs = msSince(t);
    const qint64 fileSize = QFileInfo(fileName).size();

    std::printf("lines logged                     %lld (fill took %.1f s; %d lines in the view)\n",
                log.lineCount(), fillS, view.blockCount());
    std::printf("cost of a line during the fill (CPU, median of 5 batches) by lines held:\n ");
    for (qint64 held : {6000LL, 12000LL, 50000LL, 100000LL, 200000LL, 500000LL, 1000000LL}) {
        const qint64 end = held / Batch;
        if (end >= 5 && end <= qint64(fillCpu.size()))
            std::printf(" %lldk %.0f us", held / 1000,
                        median(std::vector<double>(fillCpu.begin() + (end - 5), fillCpu.begin() + end)));
    }
    std::printf("\n");
    std::printf("cost of a line, ~1,000 held      %8.1f us CPU (%.1f us wall)\n", costSmall, median(smallWall));
    std::printf("cost of a line, ~%4lldk held      %8.1f us CPU (%.1f us wall)\n", log.lineCount() / 1000, costFull,
                median(fullWall));
    std::printf("ratio                            %8.2f   (target < 1.5)   %s\n", ratio, verdict(ratio < 1.5));
    std::printf("RSS empty log / full log         %8.1f / %.1f MB\n", rssEmpty, rssFull);
    std::printf("memory above empty log           %8.1f MB (target < 60 MB) %s\n", memAbove,
                verdict(memAbove < 60));
    std::printf("  of which line store            %8.1f MB in memory, %.1f MB in its temporary file (%.1f bytes a line)\n",
                storeBytes / 1048576.0, log.spilledBytes() / 1048576.0,
                double(storeBytes + log.spilledBytes()) / double(totalLines));
    std::printf("re-wrap after widening           %8.1f ms (target < 100 ms) %s\n", rewrap,
                verdict(rewrap < 100));
    std::printf("save all lines                   %8.1f ms, %.1f MB written%s\n", saveMs,
                fileSize / 1048576.0, saved ? "" : " (FAILED)");

    if (compare) {
        constexpr int CompareLines = 200000;
        QTextEdit edit;
        edit.setUndoRedoEnabled(false);
        edit.resize(Width, Height);
        edit.show();
        QApplication::processEvents();
        const double before = rssMb();
        t.start();
        for (int i = 0; i < CompareLines; ++i) {
            edit.append(i % 2 == 0 ? CommLog::formatLine(CommLog::Sent, traffic.request, 1)
                                   : CommLog::formatLine(CommLog::Received,
                                                         traffic.answers[size_t(i / 2) % traffic.answers.size()], 1));
            if (i % 1000 == 0)
                QApplication::processEvents();
        }
        QApplication::processEvents();
        const double editFillS = msSince(t) / 1000.0;
        const double after = rssMb();
        const double editRewrap = rewrapMs(&edit, edit.viewport());
        std::printf("QTextEdit, %d lines: filled in %.1f s, %.1f MB (%.0f bytes a line), re-wrap %.0f ms\n",
                    CompareLines, editFillS, after - before, (after - before) * 1048576.0 / CompareLines,
                    editRewrap);
    }

    const bool pass = ratio < 1.5 && memAbove < 60 && rewrap < 100 && saved;
    std::printf("%s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
