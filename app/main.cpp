// Entry point of Codiflux: the environment, then the main window until it closes.

#include "app/codiflux.h"
#include "app/startup.h"

#include <QApplication>

#include <clocale>

int main(int argc, char* argv[])
{
    // The arguments go to the application object only: the program reads none.
    QApplication application(argc, argv);
    // The application object adopts the user's locale for the C library too;
    // numbers read from the bases keep the full stop as their decimal point.
    std::setlocale(LC_NUMERIC, "C");
    // The desktop entry the window belongs to (its icon and name on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("codiflux"));

    codiflux::StartupEnvironment environment;
    codiflux::setupEnvironment(environment);

    int exitCode = 0;
    {
        Codiflux window;
        window.show();
        exitCode = application.exec();
    }  // the window goes first, then translator B, then A, then the application
    return exitCode;
}
