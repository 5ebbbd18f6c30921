// Window events (close confirmation, preview refit on resize), the four
// boxes of the "Aide" menu and its installation of the font for the user.

#include "app/codiflux.h"

#include "settings/userfont.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QTextStream>

#include "codiflux_version.h"

namespace {

// The whole of a text resource; empty when it cannot be opened.
QString readTextResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QTextStream stream(&file);
    const QString text = stream.readAll();
    file.close();
    return text;
}

}  // namespace

QString readVersionString(const QString& key)
{
    // The version is fixed at build time, in the form the version resource
    // stores it: four numbers separated by commas.
    if (key == QLatin1String("ProductVersion") || key == QLatin1String("FileVersion"))
        return QString::fromLatin1(CODIFLUX_PRODUCT_VERSION);
    return QString();
}

QString Codiflux::aboutText(const QString& version)
{
    const QString text = tr("<p>Cette application utilise des logiciels tiers possédant leurs propres licences.</p> "
                            "<p>Celles-ci peuvent être trouvées à l'adresse&nbsp;: <br/>"
                            "<a href=http://www.codiflux.fr/opensource/>http://www.codiflux.fr/opensource/</a></p>"
                            "<p>Version du logiciel: %1</p>"
                            "<p>Codiflux est un logiciel de Codiflux SARL. Tous droits réservés.</p>");
    return text.arg(version, 0, QLatin1Char(' '));
}

void Codiflux::closeEvent(QCloseEvent* event)
{
    QMessageBox question(QMessageBox::Question, tr("Fermeture de l'application"),
                         tr("Souhaitez-vous fermer l'application ?"), QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() == QMessageBox::Yes)
        event->accept();
    else
        event->ignore();
}

void Codiflux::resizeEvent(QResizeEvent* /*event*/)
{
    fitInView();
}

void Codiflux::onAbout()
{
    QString version = readVersionString(QStringLiteral("ProductVersion"));
    version.replace(QLatin1String(","), QLatin1String("."), Qt::CaseSensitive);
    QMessageBox::about(this, tr("Codiflux"), aboutText(version));
}

void Codiflux::onAboutQt()
{
    QMessageBox::aboutQt(this, tr("Codiflux - Qt"));
}

namespace {

// A library's licence box: the window's icon at 32 x 32, a single Close
// button, every text at 10 pixels, plain text, and the details when given.
void showLicenceBox(QWidget* parent, const QString& title, const QString& text, const QString& details = QString())
{
    QMessageBox box(parent);
    box.setWindowModality(Qt::NonModal);
    box.setIconPixmap(parent->windowIcon().pixmap(QSize(32, 32), QIcon::Normal, QIcon::Off));
    box.setStandardButtons(QMessageBox::Close);
    box.setStyleSheet(QStringLiteral("* {font-size: 10px;}"));
    box.setWindowTitle(title);
    box.setText(text);
    if (!details.isNull())
        box.setDetailedText(details);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

void Codiflux::onAboutLibdmtx()
{
    const QString notice = readTextResource(QStringLiteral(":/Licenses/libdmtx"));
    showLicenceBox(this, tr("Codiflux - libdmtx"), notice);
}

void Codiflux::onInstallerPolice()
{
    QString report;
    const codiflux::Error failure = codiflux::installUserFont(
        codiflux::codeFontFile(QCoreApplication::applicationDirPath(), QDir::currentPath()), &report);
    if (!failure)
        QMessageBox::information(this, tr("Installer la police Quadrex"), report);
    else
        QMessageBox::warning(this, tr("Installer la police Quadrex"), failure.text);
}

void Codiflux::onAboutQrencode()
{
    const QString notice = readTextResource(QStringLiteral(":/Licenses/qrencode"));
    const QString lgpl = readTextResource(QStringLiteral(":/Licenses/lgpl"));
    showLicenceBox(this, tr("Codiflux - qrencode"), notice, lgpl);
}
