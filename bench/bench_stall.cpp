// The window's event loop while a 1 MB real page is listed and cut: a 1 ms
// watchdog timer records the longest time between two of its ticks, which is
// how long the window could not repaint or answer a click. The page comes
// from the real-page corpus (bench/make_real_corpus.sh), joined to 1 MB, and
// is served from memory, so only the window's own work is measured.
#include "engine/fetcher.h"
#include "gui/mainwindow.h"
#include "gui/shell.h"

#include "realcorpus.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Serves every address from one page, a turn of the event loop later.
class MemoryFetcher : public caiji::Fetcher
{
public:
    explicit MemoryFetcher(QByteArray page) : m_page(std::move(page)) {}

    void fetch(int index, const QString &url, const QString &file, const QString &tag1,
               const QString &tag2) override
    {
        QTimer::singleShot(0, this, [=, this] {
            Q_EMIT fetchDone(index, url, file, QString(), m_page.size(), tag1, tag2, m_page, {});
        });
    }
    void abandonAll() override {}
    void setAllowedDirectories(const QStringList &) override {}

private:
    QByteArray m_page;
};

QByteArray megabyteOfRealPages()
{
    const QByteArray joined =
        caiji::bench::joinedPages(caiji::bench::realCorpusPages(), 1024 * 1024);
    // The page links to itself as a content page ("self.html").
    return joined + "<a href=\"self.html\">self</a>";
}

class SilentShell : public caiji::Shell
{
public:
    void inform(QWidget *, const QString &) override {}
    void open(QWidget *, const QUrl &, const QString &) override {}
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QByteArray page = megabyteOfRealPages();
    QTemporaryDir dir;
    const QString task = dir.path() + u"/task/big"_s;
    if (page.size() < 1000 || !QDir().mkpath(task + u"/data"_s) ||
        !QDir().mkpath(task + u"/web"_s) || !QDir().mkpath(task + u"/wek"_s)) {
        out << "no corpus: run bash bench/make_real_corpus.sh\n";
        return 1;
    }
    QFile definition(task + u"/data/task.txt"_s);
    if (!definition.open(QIODevice::WriteOnly))
        return 1;
    // The start page is listed; "self.html" is its only link, a content page
    // and a list page: the collector cuts it into its title and its text and
    // lists its links for the crawler in the same turn of the event loop.
    definition.write(
        "ur=[[2|http://127.0.0.1/start.html|100|self.html||self.html||0||]]\nuc=[[3]]\n"
        "<getm1>w1=[[1]]w2=[[1]]w3=[[2]]w4=[[<title>^</title>^<title>^</title>^-1^0|"
        "<body^</body>^<body^</body>^-1^1]]w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]<getm1>\n"
        "a1=[[1||||||]]\n");
    definition.close();

    SilentShell shell;
    caiji::MainWindow window(caiji::Workspace(dir.path()), std::make_unique<MemoryFetcher>(page),
                             std::make_unique<MemoryFetcher>(page), {20, true}, shell);
    window.show();

    // Only the task's own time counts, not the window's first paint.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    bool measuring = false;
    QTimer watchdog;
    watchdog.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watchdog, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (measuring)
            longest = std::max(longest, now - last);
        last = now;
    });
    QObject::connect(&window.engine(), &caiji::CollectionEngine::taskStarted, &app,
                     [&] { measuring = true; });
    QObject::connect(&window.engine(), &caiji::CollectionEngine::taskCompleted, &app, [&] {
        measuring = false;
        app.quit();
    });
    QTimer::singleShot(60000, &app, &QApplication::quit);
    last = clock.nsecsElapsed();
    watchdog.start(1);
    app.exec();

    const caiji::RunTally tally = window.engine().summary(0).tally;
    out << "page " << QString::number(page.size() / 1048576.0, 'f', 2) << " MB, records "
        << tally.recordsStored << ", longest event-loop stall "
        << QString::number(longest / 1e6, 'f', 1) << " ms\n";
    return tally.recordsStored == 1 ? 0 : 1;
}
