// Entry point of Codiflux: the environment, then the main window until it closes.

#include "app/codiflux.h"
#include "app/startup.h"
#include "generation/generationcore.h"

#include <QApplication>
#include <QMessageBox>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <new>

int main(int argc, char* argv[])
{
    // The arguments go to the application object only: the program reads none.
    QApplication application(argc, argv);
    // The application object adopts the user's locale for the C library too;
    // numbers read from the bases keep the full stop as their decimal point.
    std::setlocale(LC_NUMERIC, "C");
    // The desktop entry the window belongs to (its icon and name on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("codiflux"));

    // A file-size limit makes a write fail, which the generation reports and
    // cleans up after, instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);

    codiflux::StartupEnvironment environment;
    codiflux::setupEnvironment(environment);

    int exitCode = 0;
    try {
        Codiflux window;
        window.show();
        exitCode = application.exec();
    } catch (const std::bad_alloc&) {
        // The window is gone; what it held is freed, so the box can be shown.
        const QString text = codiflux::outOfMemoryText();
        std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
        try {
            QMessageBox::critical(nullptr, QStringLiteral("Codiflux"), text);
        } catch (const std::bad_alloc&) { }
        exitCode = 1;
    }  // the window goes first, then translator B, then A, then the application
    return exitCode;
}
