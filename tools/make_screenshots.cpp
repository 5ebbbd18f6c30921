// Takes the README's screenshots of the main window: the empty window, and a
// Datamatrix and a QR code preview of the sample base in examples/.
// Usage: make_screenshots EXAMPLES_DIR OUTPUT_DIR (run with QT_QPA_PLATFORM=offscreen)

#include "app/codiflux.h"
#include "app/startup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

struct CodifluxInspector {
    static bool load(Codiflux& w, const QString& path) { return w.loadFile(path); }
};

namespace {

bool save(Codiflux& window, const QString& path)
{
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_screenshots EXAMPLES_DIR OUTPUT_DIR\n");
        return 2;
    }
    const QString examples = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString output = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    // Fresh settings: the window shows the default parameter set.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    codiflux::StartupEnvironment environment;
    codiflux::setupEnvironment(environment);

    Codiflux window;
    window.show();
    bool ok = save(window, output + "/window.png");

    CodifluxClass& form = *window.ui();
    const QString base = examples + "/clients.dbf";
    if (!CodifluxInspector::load(window, base))
        return 1;
    form.lineEditBaseSource->setText(base);
    form.comboBoxChamps->setCurrentIndex(form.comboBoxChamps->findText("CODE"));
    form.tabTypeWidget->setCurrentIndex(0);
    form.comboBoxTailleDatamatrix->setCurrentIndex(form.comboBoxTailleDatamatrix->findData(3));  // 16x16
    window.onPreview();
    ok = save(window, output + "/preview-datamatrix.png") && ok;

    form.tabTypeWidget->setCurrentIndex(1);
    form.comboBoxModeEncodageQRCode->setCurrentIndex(form.comboBoxModeEncodageQRCode->findData(2));  // 8-bit
    form.bmpPreviewRadioButton->setChecked(true);
    window.onPreview();
    ok = save(window, output + "/preview-qrcode.png") && ok;
    return ok ? 0 : 1;
}
