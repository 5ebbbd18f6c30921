// The proof sheet from the window: the encoded base (the one just generated,
// or one chosen), the size and the printer's resolution asked, the PDF made
// on a worker thread behind a progress dialog that can cancel it, then opened
// with the desktop's viewer. The worker touches no widget: it gets the options
// and reports through queued calls.

#include "app/codiflux.h"

#include "generation/proof.h"
#include "settings/parametres.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <memory>

namespace {

// The family the window registers its font under at start-up.
constexpr char kCodeFontFamily[] = "Quadrex";
// Codes named in the report box when some do not read.
constexpr int kNamedFailures = 10;

}  // namespace

QString Codiflux::proofPdfPath(const QString& base)
{
    const QFileInfo info(base);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("-epreuve.pdf"));
}

bool Codiflux::askProofParameters(double* size, int* dpi)
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dialogEpreuve"));
    dialog.setWindowTitle(tr("Épreuve d'impression"));
    auto* layout = new QFormLayout(&dialog);
    auto* sizeBox = new QDoubleSpinBox(&dialog);
    sizeBox->setObjectName(QStringLiteral("doubleSpinBoxTailleEpreuve"));
    sizeBox->setRange(1.5, 36);
    sizeBox->setSingleStep(0.5);
    sizeBox->setDecimals(1);
    sizeBox->setSuffix(tr(" pt"));
    sizeBox->setValue(proofSize);
    auto* dpiBox = new QComboBox(&dialog);
    dpiBox->setObjectName(QStringLiteral("comboBoxResolutionEpreuve"));
    for (int value : {203, 300, 600})
        dpiBox->addItem(tr("%1 dpi").arg(value), value);
    dpiBox->setCurrentIndex(std::max(0, dpiBox->findData(proofDpi)));
    layout->addRow(tr("Taille de la police du code :"), sizeBox);
    layout->addRow(tr("Résolution de l'imprimante :"), dpiBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    proofSize = *size = sizeBox->value();
    proofDpi = *dpi = dpiBox->currentData().toInt();
    return true;
}

void Codiflux::onEpreuveImpression()
{
    epreuveImpression(QString());
}

void Codiflux::epreuveImpression(const QString& encodedBase)
{
    const QString title = tr("Épreuve d'impression");
    QString base = encodedBase;
    if (base.isEmpty()) {
        const QString folder = lastEncodedBase.isEmpty()
            ? settings->value(QLatin1String(codiflux::keys::CheminEnregistrement), QStringLiteral(".")).toString()
            : lastEncodedBase;
        base = QFileDialog::getOpenFileName(this, tr("Épreuve d'impression..."), folder,
                                            tr("Bases encodées (*.dbf *.csv *.txt);;Tous les fichiers (*)"));
        if (base.isEmpty())
            return;
    }
    double size = 0;
    int dpi = 0;
    if (!askProofParameters(&size, &dpi))
        return;

    // The command line makes the same sheet from the same options:
    // codiflux-cli proof BASE -o BASE-epreuve.pdf --size S --dpi D.
    const codiflux::proof::ProofOptions options
        = codiflux::proof::defaultProofOptions(base, proofPdfPath(base), size, dpi, QLatin1String(kCodeFontFamily));
    codiflux::proof::ProofReport report;
    codiflux::Error error;
    std::atomic<bool> cancel{false};

    QProgressDialog dialog(tr("\t\tÉpreuve d'impression en cours...\t\t"), tr("Annuler"), 0, 1000, this);
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(0);
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&cancel]() { cancel = true; });

    codiflux::proof::ProofControl control;
    control.cancel = &cancel;
    QProgressDialog* target = &dialog;
    control.progress = [target](int permille) {
        QMetaObject::invokeMethod(
            target, [target, permille]() { target->setValue(permille); }, Qt::QueuedConnection);
    };
    std::unique_ptr<QThread> worker(
        QThread::create([&options, &report, &error, &control]() { error = makeProof(options, report, control); }));
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    dialog.show();
    loop.exec();
    worker->wait();
    dialog.hide();

    if (error.code == codiflux::ErrorCode::Cancelled)
        return;
    if (error) {
        QMessageBox::warning(this, title, error.text, QMessageBox::Close, QMessageBox::Close);
        return;
    }
    QStringList lines;
    int failures = 0;
    for (const codiflux::proof::PassResult& pass : report.passes) {
        for (const codiflux::proof::CodeResult& code : pass.codes)
            if (!code.ok() && failures++ < kNamedFailures)
                lines << (code.read ? tr("Enregistrement n°%1 : relu « %2 »")
                                          .arg(code.record)
                                          .arg(QString::fromLatin1(code.read->bytes))
                                    : tr("Enregistrement n°%1 : code non relu").arg(code.record));
        lines << codiflux::proof::readSummaryText(pass);
    }
    statusBar()->showMessage(lines.last());
    if (failures > 0)
        QMessageBox::warning(this, title, lines.join(QLatin1Char('\n')), QMessageBox::Close, QMessageBox::Close);
    if (!openUrl(QUrl::fromLocalFile(options.pdfPath)))
        QMessageBox::warning(
            this, title, tr("L'épreuve « %1 » est écrite, mais aucune visionneuse ne l'ouvre.").arg(options.pdfPath),
            QMessageBox::Close, QMessageBox::Close);
}
