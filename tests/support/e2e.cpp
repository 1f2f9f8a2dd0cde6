#include "support/e2e.h"

#include "pages/bmsmonitoring.h"
#include "support/testenv.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

const QString E2e::Out = QStringLiteral("OUT→◇");
const QString E2e::In = QStringLiteral("IN←◆");

E2e::E2e()
{
    TestEnv::openFreshDatabases();
    TestEnv::resetLiveData();
    Dialogs::setHook([this](const Dialogs::Request &r, QString *) {
        boxes << r.title + QStringLiteral(": ") + r.text;
        requests << r;
        if (onBox)
            onBox();
        return int(QMessageBox::Ok);
    });
}

E2e::~E2e()
{
    reset();
    Dialogs::clearHook();
}

MainWindow &E2e::open(const QString &device, int pollMs, int address)
{
    window = std::make_unique<MainWindow>();
    if (pollMs)
        window->setPollInterval(pollMs);
    window->setSlaveAddress(address);
    window->setPortName(device);
    return *window;
}

bool E2e::start(const QStringList &simArguments, int pollMs, int address)
{
    if (!sim.start(simArguments)) {
        qWarning("%s", qPrintable(sim.errorString()));
        return false;
    }
    open(sim.deviceName(), pollMs, address);
    return true;
}

bool E2e::monitor(const QStringList &simArguments, int pollMs, int address)
{
    if (!start(simArguments, pollMs, address))
        return false;
    window->on_monitorBtn_clicked();
    return window->isMonitoring();
}

bool E2e::online()
{
    return QTest::qWaitFor([this] { return comState() == QStringLiteral("Online"); }, Deadline);
}

void E2e::reset()
{
    if (window && window->isMonitoring())
        window->on_monitorBtn_clicked();
    window.reset();
    sim.stop();
    boxes.clear();
    requests.clear();
    onBox = nullptr;
    TestEnv::resetLiveData();
}

QStringList E2e::lines() const
{
    QStringList all;
    for (qint64 i = 0; window && i < window->commLog().lineCount(); ++i)
        all << window->commLog().line(i);
    return all;
}

QString E2e::comState() const
{
    auto *field = window ? window->monitoringPage()->findChild<QLineEdit *>(QStringLiteral("com_state")) : nullptr;
    return field ? field->text() : QStringLiteral("(no com_state)");
}

QString copyProgram(const QTemporaryDir &dir)
{
    const QString exe = dir.filePath(QStringLiteral("packscope"));
    return QFile::copy(QStringLiteral(PACKSCOPE_PATH), exe) ? exe : QString();
}

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                      const QString &workDir)
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, arguments);
    ProgramRun r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QProcessEnvironment withEnv(const char *name, const QString &value, QProcessEnvironment env)
{
    env.insert(QLatin1String(name), value);
    return env;
}
