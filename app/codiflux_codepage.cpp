// The code page the loaded base is read with: shown with where it came from,
// and forced by the user (the base is then read again).

#include "app/codiflux.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

void Codiflux::fillCodePages()
{
    using namespace codiflux;
    QComboBox* box = form.comboBoxPageCode;
    box->addItem(tr("Automatique"), -1);
    for (int page = 0; page < kCodePageCount; ++page)
        box->addItem(codePageName(CodePage(page)), page);
    connect(box, SIGNAL(currentIndexChanged(int)), this, SLOT(choisirPageCode(int)));
    setLayoutVisible(form.layout_pageCode, false);
}

std::optional<codiflux::CodePage> Codiflux::forcedCodePage() const
{
    const int value = form.comboBoxPageCode->currentData().toInt();
    if (value < 0 || value >= codiflux::kCodePageCount)
        return std::nullopt;
    return codiflux::CodePage(value);
}

void Codiflux::showCodePage(const codiflux::BaseCodePage& codePage)
{
    pageCode = codePage;
    form.labelOriginePageCode->setText(codiflux::codePageDescription(codePage));
    setLayoutVisible(form.layout_pageCode, true);
}

void Codiflux::choisirPageCode(int)
{
    // The base is read again with the page chosen.
    const QString path = form.lineEditBaseSource->text();
    if (!path.isEmpty() && baseFormat && baseFormat->readsCodePage())
        if (!loadFile(path))
            form.lineEditBaseSource->clear();
}
