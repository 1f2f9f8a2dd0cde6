#include "app/screenshotrig.h"

#include "app/mainwindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace ScreenshotRig {
namespace {

// Steps run one after another, each after its own pause.
class Sequence : public QObject
{
public:
    explicit Sequence(QObject *parent) : QObject(parent) {}
    void add(int pauseMs, std::function<void()> step) { m_steps.emplace_back(pauseMs, std::move(step)); }
    bool started() const { return m_started; }
    void start()
    {
        if (!m_started) {
            m_started = true;
            run();
        }
    }

private:
    void run()
    {
        if (m_next >= m_steps.size())
            return;
        QTimer::singleShot(m_steps[m_next].first, this, [this] {
            m_steps[m_next++].second();
            run();
        });
    }

    std::vector<std::pair<int, std::function<void()>>> m_steps;
    size_t m_next = 0;
    bool m_started = false;
};

void fail(const char *reason)
{
    std::fprintf(stderr, "packscope: screenshots: %s\n", reason);
    QCoreApplication::exit(1);
}

} // namespace

void startIfAsked(MainWindow *window)
{
    const QString folder = qEnvironmentVariable("PACKSCOPE_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *language = window->findChild<QComboBox *>(QStringLiteral("lgCB"));
    auto *time = window->findChild<QCheckBox *>(QStringLiteral("timeCB"));
    if (!tabs || !language || !time)
        return fail("the window lacks its tabs or language box");

    auto *sequence = new Sequence(window);
    const QStringList clicks
        = qEnvironmentVariable("PACKSCOPE_SCREENSHOT_CLICKS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &name : clicks) {
        sequence->add(3000, [window, name] {
            auto *button = window->findChild<QAbstractButton *>(name.trimmed());
            if (button && button->isEnabled())
                button->click();
            else
                std::fprintf(stderr, "packscope: screenshots: no enabled button %s\n", qPrintable(name));
        });
    }
    bool ok = false;
    const int settle = qEnvironmentVariableIntValue("PACKSCOPE_SCREENSHOT_SETTLE_MS", &ok);
    sequence->add(ok ? settle : 5000, [time] { time->setChecked(true); });
    static const char *const names[] = {"monitoring", "packs", "parameters", "history", "datalog", "communication", "trend"};
    constexpr int named = int(sizeof names / sizeof names[0]);
    for (int lang : {1, 0}) {
        for (int tab = 0; tab < tabs->count() && tab < named; ++tab) {
            sequence->add(500, [=] {
                language->setCurrentIndex(lang);
                tabs->setCurrentIndex(tab);
            });
            sequence->add(700, [=] {
                const QString file = QStringLiteral("%1/%2-%3-%4.png")
                                         .arg(folder, QLatin1String(lang ? "en" : "zh"))
                                         .arg(tab)
                                         .arg(QLatin1String(names[tab]));
                if (!window->grab().save(file))
                    fail("cannot write a picture");
                else
                    std::fprintf(stderr, "packscope: screenshots: %s\n", qPrintable(file));
            });
        }
    }
    sequence->add(0, [] { QCoreApplication::exit(0); });

    QObject::connect(window, &MainWindow::linkOnline, sequence, &Sequence::start);
    QTimer::singleShot(60000, sequence, [sequence] {
        if (!sequence->started())
            fail("the link did not come online");
    });
}

} // namespace ScreenshotRig
