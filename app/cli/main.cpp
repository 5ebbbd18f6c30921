// codiflux-cli: generation of an encoded base from the command line.

#include "app/cli/cli.h"
#include "app/cli/proof.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSettings>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <memory>
#include <new>

#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int)
{
    // Only the flag: every phase reads it and the run removes its temporaries.
    interrupted.store(true);
}

void installInterruptHandlers()
{
    struct sigaction action { };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A file-size limit makes the write fail, which the run reports and
    // cleans up after, instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Once interrupted, the program has this long to stop by itself; then the
// guard gives the run up (its temporaries removed) and ends the process.
constexpr std::chrono::milliseconds kStopDelay{800};

[[noreturn]] void stopNow(codiflux::cli::RunAbandon& abandon)
{
    QString text = abandon.stopText();
    if (text.isEmpty())
        text = QCoreApplication::translate("codiflux-cli", "Interrompu.") + QLatin1Char('\n');
    const QByteArray bytes = text.toUtf8();
    std::fflush(stdout);
    (void)!::write(STDERR_FILENO, bytes.constData(), std::size_t(bytes.size()));
    ::_exit(int(codiflux::cli::ExitCode::Failure));
}

}  // namespace

int main(int argc, char* argv[])
{
    installInterruptHandlers();
    try {
        // A proof lays out text and writes a PDF: that needs the GUI library,
        // without a display.
        std::unique_ptr<QCoreApplication> app;
        if (argc > 1 && codiflux::cli::isProofCommand({QString::fromLocal8Bit(argv[1])})) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            app = std::make_unique<QGuiApplication>(argc, argv);
        } else {
            app = std::make_unique<QCoreApplication>(argc, argv);
        }
        QCoreApplication& application = *app;
        // The application object adopts the user's locale for the C library too;
        // numbers keep the full stop as their decimal point whatever the locale.
        std::setlocale(LC_NUMERIC, "C");

        // The window's settings file: the parameter sets live there.
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString());

        QTextStream out(stdout);
        QTextStream err(stderr);
        codiflux::cli::RunAbandon abandon;
        codiflux::cli::InterruptGuard guard(interrupted, abandon, kStopDelay, [&abandon] { stopNow(abandon); });
        codiflux::cli::Console console;
        console.out = &out;
        console.err = &err;
        console.stdoutIsTerminal = ::isatty(STDOUT_FILENO) == 1;
        console.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
        console.cancel = &interrupted;
        console.abandon = &abandon;
        const codiflux::cli::ExitCode code
            = codiflux::cli::runCommandLine(application.arguments().mid(1), settings, console);
        out.flush();
        err.flush();
        return int(code);
    } catch (const std::bad_alloc&) {
        // The run's files removed their temporaries on the way out.
        const QByteArray text
            = (codiflux::outOfMemoryText() + QLatin1Char('\n')
               + QCoreApplication::translate("codiflux-cli", "Aucun fichier n'a été écrit.") + QLatin1Char('\n'))
                  .toUtf8();
        std::fflush(stdout);
        std::fputs(text.constData(), stderr);
        return int(codiflux::cli::ExitCode::Failure);
    }
}
