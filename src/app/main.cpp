#include "app/translations.h"
#include "cli/commandline.h"
#include "engine/networkfetcher.h"
#include "engine/stopsignals.h"
#include "gui/mainwindow.h"
#include "gui/shell.h"
#include "records/runhistory.h"
#include "tasks/installlayout.h"
#include "tasks/instancelock.h"

#include <QApplication>
#include <QDir>
#include <QTextStream>

#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;

namespace {

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int runWindow(QApplication &app, const caiji::CommandLine::GlobalOptions &options)
{
    const caiji::InstallLayout layout(QCoreApplication::applicationDirPath());
    QString workspace = options.workspace;
    if (workspace.isEmpty()) {
        workspace = layout.defaultWorkspace();
        if (layout.isInstalled())
            layout.prepareWorkspace(workspace);
    }
    const int tickMs = options.tickMs;
    caiji::Shell shell;
    // The desktop's file dialogs speak the user's language, not the window's.
    shell.setNativeFileDialogs(
        QLocale().language() ==
        caiji::Translations::messagesLocale(QProcessEnvironment::systemEnvironment()).language());
    const auto refuse = [&shell](const QString &message) {
        QTextStream(stderr) << "caiji: " << message << Qt::endl;
        shell.inform(nullptr, message);
        return 2;
    };
    caiji::InstanceLock lock(workspace);
    switch (lock.tryAcquire()) {
    case caiji::InstanceLock::Outcome::Acquired:
        break;
    case caiji::InstanceLock::Outcome::HeldByAnother:
        // The window of the first copy comes forward instead of a second one.
        if (lock.askHolderToShow(3000))
            return 0;
        return refuse(QCoreApplication::translate(
                          "Startup", "另一个 caiji 正在这个工作目录中采集（没有窗口），"
                                     "等它结束后再打开窗口：\n%1")
                          .arg(QDir::toNativeSeparators(workspace)));
    case caiji::InstanceLock::Outcome::CannotWrite:
        return refuse(QCoreApplication::translate(
                          "Startup", "无法写入工作目录（不能创建 %1）。请检查目录是否存在、"
                                     "是否有写入权限，或用 --workspace 指定另一个目录。")
                          .arg(QDir::toNativeSeparators(lock.lockFilePath())));
    }
    lock.listenForOtherCopies();
    caiji::MainWindow window(caiji::Workspace(workspace), std::make_unique<caiji::NetworkFetcher>(),
                             std::make_unique<caiji::NetworkFetcher>(),
                             {tickMs, true, caiji::RunHistory::configuredKeep()}, shell);
    QObject::connect(&lock, &caiji::InstanceLock::showRequested, &window,
                     &caiji::MainWindow::bringToFront);
    // A `caiji run` started meanwhile (by a timer, say) hands its tasks over.
    QObject::connect(&lock, &caiji::InstanceLock::queueRequested, &window,
                     &caiji::MainWindow::queueTasks);
    // A session's logout (SIGTERM) or Ctrl-C in the terminal ends the run in
    // order: transfers aborted, the database closed, the lock released.
    caiji::StopSignals stopSignals;
    QObject::connect(&stopSignals, &caiji::StopSignals::received, &window, [&](int signalNumber) {
        window.engine().stop(caiji::StopSignals::reason(signalNumber));
        QCoreApplication::exit(caiji::StopSignals::exitStatus(signalNumber));
    });
    window.show();
    // An installed program's first start on an empty workspace; a build's
    // window opens on its own folder without asking.
    const QString examples = layout.isInstalled() ? layout.examplesWorkspaceDir() : QString();
    if (!examples.isEmpty())
        window.offerExamples(caiji::Workspace(examples));
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef __GLIBC__
    // Buffers of a megabyte and more (large pages and their text) get mappings
    // of their own, returned whole when freed. By default glibc raises this
    // bound after the first large page is freed, and later large pages land in
    // the heap, where small long-lived queue entries keep it from shrinking.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    // Every page's text is a few hundred kilobytes freed moments later: with
    // glibc's default 128 KB the heap is shrunk after each page and grown and
    // faulted in again for the next one. A bounded reserve is kept instead,
    // small beside the peak a large page's listing brings.
    mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
    mallopt(M_TOP_PAD, 2 * 1024 * 1024);
#endif
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // `caiji` with at most --workspace and --tick-ms opens the window.
    const caiji::CommandLine::GlobalOptions global = caiji::CommandLine::parseGlobal(arguments);
    if (global.error.isEmpty() && !global.help && !global.version && global.command.isEmpty() &&
        hasDisplay()) {
        QApplication app(argc, argv);
        QApplication::setApplicationName(u"caiji"_s);
        // The window's language (Chinese until its translation into the
        // user's is complete) is the locale of Qt's texts in it too.
        QLocale::setDefault(caiji::Translations::windowLocale(
            caiji::Translations::messagesLocale(QProcessEnvironment::systemEnvironment())));
        const caiji::Translations translations{QLocale()};
        return runWindow(app, global);
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"caiji"_s);
    const caiji::Translations translations(
        caiji::Translations::messagesLocale(QProcessEnvironment::systemEnvironment()));
    QTextStream out(stdout);
    QTextStream err(stderr);
    // Parsed again: its messages now follow the locale.
    caiji::CommandLine commandLine(out, err,
                                   caiji::InstallLayout(QCoreApplication::applicationDirPath()));
    return commandLine.run(arguments);
}
