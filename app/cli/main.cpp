// codiflux-cli: generation of an encoded base from the command line.

#include "app/cli/cli.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTextStream>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int)
{
    // Only the flag: the run stops at its next record and removes its temporaries.
    interrupted.store(true);
}

void installInterruptHandlers()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    // The application object adopts the user's locale for the C library too;
    // numbers keep the full stop as their decimal point whatever the locale.
    std::setlocale(LC_NUMERIC, "C");
    installInterruptHandlers();

    // The window's settings file: the parameter sets live there.
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString());

    QTextStream out(stdout);
    QTextStream err(stderr);
    codiflux::cli::Console console;
    console.out = &out;
    console.err = &err;
    console.stdoutIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    console.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    console.cancel = &interrupted;
    const int code = codiflux::cli::runCommandLine(application.arguments().mid(1), settings, console);
    out.flush();
    err.flush();
    return code;
}
