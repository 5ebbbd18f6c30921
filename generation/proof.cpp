#include "generation/proof.h"

#include "generation/proofbase.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImageReader>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSaveFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextLayout>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cmath>

namespace codiflux::proof {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Proof", text);
}

bool isCodeCharacter(char c)
{
    return c >= 'A' && c <= 'P';
}

bool cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

Error cancelledError()
{
    return Error(ErrorCode::Cancelled, tr("Épreuve annulée."));
}

}  // namespace

// ---------------------------------------------------------------------------
// Code text

int CodeGeometry::height() const
{
    // A square symbol fills its last band partly; a rectangular one (8, 12 or
    // 16 rows) fills it whole.
    return width <= 4 * bands && width > 4 * bands - 4 ? width : 4 * bands;
}

std::optional<CodeGeometry> codeGeometry(const QByteArray& field, int width)
{
    QByteArray text = field;
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\0'))
        text.chop(1);
    const qsizetype n = text.size();
    const qsizetype first = std::find_if_not(text.cbegin(), text.cend(), isCodeCharacter) - text.cbegin();
    if (n == 0 || first == 0)
        return std::nullopt;
    CodeGeometry g;
    if (first == n) {
        // No end-of-line character: W given, or that of a square symbol.
        for (qsizetype w = width > 0 ? width : 1; w <= n; ++w) {
            if (n % w == 0 && (width > 0 || (w + 3) / 4 == n / w)) {
                g.width = int(w);
                g.bands = int(n / w);
                return g;
            }
            if (width > 0)
                break;
        }
        return std::nullopt;
    }
    g.width = int(first);
    g.endOfLine = true;
    g.endOfLineCharacter = text.at(first);
    for (qsizetype pos = 0; pos < n; pos += g.width + 1) {
        if (pos + g.width > n || !std::all_of(text.cbegin() + pos, text.cbegin() + pos + g.width, isCodeCharacter))
            return std::nullopt;
        if (pos + g.width < n && text.at(pos + g.width) != g.endOfLineCharacter)
            return std::nullopt;
        ++g.bands;
    }
    return g;
}

QString layoutText(const QByteArray& text)
{
    QString s = QString::fromLatin1(text);
    s.replace(QLatin1Char('\n'), QChar(QChar::LineSeparator));
    return s;
}

LaidOutCode layOutCode(const QByteArray& text, const CodeGeometry& geometry, const QString& family, double size,
                       QPaintDevice* device)
{
    QFont font(family);
    font.setPointSizeF(size);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoFontMerging));
    font.setKerning(false);
    const double module = size / 4 * device->logicalDpiY() / 72.0;

    LaidOutCode out;
    out.layout = std::make_unique<QTextLayout>(layoutText(text), font, device);
    QTextOption option;
    option.setWrapMode(geometry.endOfLine ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::WrapAnywhere);
    out.layout->setTextOption(option);
    // With an end-of-line character the frame is between W and 2W modules
    // wide, as the user's frame must be; without, exactly W.
    const double frame = geometry.endOfLine ? 1.5 * geometry.width * module : (geometry.width + 0.25) * module;
    out.layout->beginLayout();
    double y = 0;
    for (QTextLine line = out.layout->createLine(); line.isValid(); line = out.layout->createLine()) {
        line.setLineWidth(frame);
        line.setPosition(QPointF(0, y));
        y += line.height();
        ++out.lines;
    }
    out.layout->endLayout();
    out.symbol = QSizeF(geometry.width * module, 4 * geometry.bands * module);
    return out;
}

std::optional<ReadCode> readCode(const QImage& page, const QRect& area)
{
    const QImage gray = page.copy(area).convertToFormat(QImage::Format_Grayscale8);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::DataMatrix | ZXing::BarcodeFormat::QRCode);
    hints.setTryRotate(false);
    hints.setMaxNumberOfSymbols(1);
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                int(gray.bytesPerLine()));
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid())
        return std::nullopt;
    const ZXing::ByteArray& bytes = result.bytes();
    ReadCode read;
    read.bytes = QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    if (result.contentType() == ZXing::ContentType::GS1)
        read.hri = QString::fromStdString(result.text());
    return read;
}

// ---------------------------------------------------------------------------
// Rasterizers

namespace {

QString ghostscriptPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("gs"));
}

}  // namespace

Rasterizer defaultRasterizer()
{
    return ghostscriptPath().isEmpty() ? Rasterizer::Qt : Rasterizer::Ghostscript;
}

QString rasterizerName(Rasterizer rasterizer)
{
    if (rasterizer == Rasterizer::Qt)
        return tr("Qt (1 bit)");
    QString version;
    QProcess gs;
    gs.start(ghostscriptPath(), {QStringLiteral("--version")});
    if (gs.waitForFinished(10000) && gs.exitStatus() == QProcess::NormalExit && gs.exitCode() == 0)
        version = QString::fromLatin1(gs.readAllStandardOutput()).trimmed();
    else if (gs.state() != QProcess::NotRunning) {
        gs.kill();
        gs.waitForFinished(1000);
    }
    return version.isEmpty() ? tr("Ghostscript (pngmono, 1 bit)") : tr("Ghostscript %1 (pngmono, 1 bit)").arg(version);
}

Error rasterizeWithGhostscript(const QString& pdf, int dpi, int timeoutMs, const std::atomic<bool>* cancel,
                               const std::function<bool(int, const QImage&)>& pageDone)
{
    const QString program = ghostscriptPath();
    if (program.isEmpty())
        return Error(ErrorCode::SourceUnreadable, tr("Ghostscript (gs) n'est pas installé."));
    QTemporaryDir dir;
    if (!dir.isValid())
        return Error(ErrorCode::WriteFailed,
                     tr("Impossible de créer un dossier temporaire : %1").arg(dir.errorString()));
    QProcess gs;
    gs.setProcessChannelMode(QProcess::SeparateChannels);
    gs.setStandardOutputFile(QProcess::nullDevice());
    gs.start(program,
             {QStringLiteral("-q"), QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"), QStringLiteral("-dNOPAUSE"),
              QStringLiteral("-sDEVICE=pngmono"), QStringLiteral("-r%1").arg(dpi),
              QStringLiteral("-sOutputFile=") + dir.filePath(QStringLiteral("page-%d.png")), pdf});
    if (!gs.waitForStarted(10000))
        return Error(ErrorCode::SourceUnreadable, tr("Ghostscript ne démarre pas : %1").arg(gs.errorString()));
    QElapsedTimer clock;
    clock.start();
    while (!gs.waitForFinished(100) && gs.state() != QProcess::NotRunning) {
        const bool stop = cancelled(cancel);
        if (stop || clock.elapsed() > timeoutMs) {
            gs.kill();
            gs.waitForFinished(5000);
            return stop
                ? cancelledError()
                : Error(ErrorCode::SourceUnreadable,
                        tr("Ghostscript n'a pas fini en %1 s : le tramage est abandonné.").arg(timeoutMs / 1000));
        }
    }
    if (gs.exitStatus() != QProcess::NormalExit || gs.exitCode() != 0)
        return Error(ErrorCode::SourceUnreadable,
                     tr("Ghostscript a échoué : %1").arg(QString::fromLocal8Bit(gs.readAllStandardError()).trimmed()));
    // A 600 dpi A4 page is beyond the reader's default limit once unpacked.
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(std::max(limit, 1024));
    const auto restore = qScopeGuard([limit] { QImageReader::setAllocationLimit(limit); });
    for (int page = 0;; ++page) {
        const QString file = dir.filePath(QStringLiteral("page-%1.png").arg(page + 1));
        if (!QFileInfo::exists(file))
            return {};
        const QImage image(file);
        if (image.isNull())
            return Error(ErrorCode::SourceUnreadable,
                         tr("La page %1 tramée par Ghostscript est illisible.").arg(page + 1));
        if (cancelled(cancel))
            return cancelledError();
        if (!pageDone(page, image))
            return {};
    }
}

// ---------------------------------------------------------------------------
// Options

bool parseRecordChoice(const QString& given, RecordChoice* choice)
{
    const QString text = given.trimmed().toLower();
    RecordChoice c;
    bool ok = false;
    if (text == QLatin1String("all") || text == QLatin1String("tous")) {
        c.kind = RecordChoiceKind::All;
        ok = true;
    } else if (text.startsWith(QLatin1String("sample:"))) {
        c.kind = RecordChoiceKind::Sample;
        c.count = text.mid(7).toInt(&ok);
        ok = ok && c.count >= 1;
    } else {
        c.kind = RecordChoiceKind::Range;
        const QStringList parts = text.split(QLatin1Char('-'));
        bool ok2 = true;
        c.first = parts.value(0).toLongLong(&ok);
        c.last = parts.size() == 2 ? parts.at(1).toLongLong(&ok2) : c.first;
        ok = ok && ok2 && parts.size() <= 2 && c.first >= 1 && c.last >= c.first;
    }
    if (ok)
        *choice = c;
    return ok;
}

bool parseSizes(const QString& given, QList<double>* sizes)
{
    const QStringList parts = QString(given).replace(QLatin1Char(','), QLatin1Char('.')).split(QLatin1Char('-'));
    bool ok1 = false, ok2 = true;
    const double low = parts.value(0).trimmed().toDouble(&ok1);
    const double high = parts.size() == 2 ? parts.at(1).trimmed().toDouble(&ok2) : low;
    if (!ok1 || !ok2 || parts.size() > 2 || low < 1 || high > 72 || high < low)
        return false;
    sizes->clear();
    if (parts.size() == 1) {
        sizes->append(low);
        return true;
    }
    // Half points from the first, and the last whatever it is.
    for (double s = low; s < high - 1e-9; s += 0.5)
        sizes->append(s);
    sizes->append(high);
    return true;
}

ProofOptions defaultProofOptions(const QString& basePath, const QString& pdfPath, double size, int dpi,
                                 const QString& fontFamily)
{
    ProofOptions o;
    o.basePath = basePath;
    o.pdfPath = pdfPath;
    o.sizes = {size};
    o.resolutions = {dpi};
    o.fontFamily = fontFamily;
    return o;
}

int PassResult::readCount() const
{
    return int(std::count_if(codes.cbegin(), codes.cend(), [](const CodeResult& c) { return c.ok(); }));
}

std::optional<double> ProofReport::smallestSize(int dpi) const
{
    std::optional<double> smallest;
    QList<const PassResult*> atDpi;
    for (const PassResult& pass : passes)
        if (pass.dpi == dpi)
            atDpi.append(&pass);
    std::sort(atDpi.begin(), atDpi.end(), [](const PassResult* a, const PassResult* b) { return a->size > b->size; });
    for (const PassResult* pass : atDpi) {
        if (pass->readCount() != pass->codes.size())
            break;
        smallest = pass->size;
    }
    return smallest;
}

bool ProofReport::passed() const
{
    QList<int> resolutions;
    bool sweep = false;
    for (const PassResult& pass : passes) {
        if (!resolutions.contains(pass.dpi))
            resolutions.append(pass.dpi);
        sweep = sweep || pass.size != passes.first().size;
    }
    if (!sweep)
        return std::all_of(passes.cbegin(), passes.cend(),
                           [](const PassResult& p) { return p.readCount() == p.codes.size(); });
    return std::all_of(resolutions.cbegin(), resolutions.cend(), [this](int dpi) { return smallestSize(dpi); });
}

QString frenchNumber(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text.replace(QLatin1Char('.'), QLatin1Char(','));
}

QString readSummaryText(const PassResult& pass)
{
    return tr("%1/%2 codes relus à %3 pt, %4 dpi")
        .arg(pass.readCount())
        .arg(pass.codes.size())
        .arg(frenchNumber(pass.size))
        .arg(pass.dpi);
}

// ---------------------------------------------------------------------------
// The sheet

namespace {

constexpr double kPageWidth = 595.2756;  // A4, points
constexpr double kPageHeight = 841.8898;
constexpr double kMargin = 36;
constexpr double kHeader = 22;      // the title line of a label page
constexpr double kTextWidth = 150;  // the text beside a code
constexpr double kLineHeight = 9;
constexpr double kGap = 8;
constexpr int kQuietModules = 4;
constexpr int kPdfResolution = 1200;

struct Label {
    int record = 0;  // index among the chosen records
    int size = 0;    // index among the sizes
    int page = 0;    // label page, 0-based
    QPointF symbol;  // the symbol's top left corner, points
    double module = 0;
    QRectF text;
};

struct Plan {
    QList<Label> labels;
    QList<int> firstPage;  // of each size
    int pages = 0;         // label pages
};

Plan planSheet(const CodeGeometry& g, const QList<double>& sizes, int records, int resolutions)
{
    Plan plan;
    const double textHeight = (3 + resolutions) * kLineHeight;
    for (int s = 0; s < sizes.size(); ++s) {
        const double module = sizes.at(s) / 4;
        const double quiet = kQuietModules * module;
        const double frame = g.endOfLine ? 1.5 * g.width * module : g.width * module + quiet;
        const double codeWidth = quiet + std::max(frame, g.width * module + quiet);
        const double cellWidth = codeWidth + kGap + kTextWidth;
        const double cellHeight = std::max(4 * g.bands * module + 2 * quiet, textHeight) + kGap;
        const int columns = std::max(1, int((kPageWidth - 2 * kMargin + kGap) / cellWidth));
        const int rows = std::max(1, int((kPageHeight - 2 * kMargin - kHeader) / cellHeight));
        plan.firstPage.append(plan.pages);
        for (int r = 0; r < records; ++r) {
            const int onPage = r % (columns * rows);
            const QPointF cell(kMargin + (onPage % columns) * cellWidth,
                               kMargin + kHeader + (onPage / columns) * cellHeight);
            Label label;
            label.record = r;
            label.size = s;
            label.page = plan.pages + r / (columns * rows);
            label.module = module;
            label.symbol = cell + QPointF(quiet, quiet);
            label.text = QRectF(cell.x() + codeWidth + kGap, cell.y(), kTextWidth, cellHeight - kGap);
            plan.labels.append(label);
        }
        plan.pages += (records + columns * rows - 1) / (columns * rows);
    }
    return plan;
}

QRectF symbolRect(const Label& label, const CodeGeometry& g)
{
    return QRectF(label.symbol, QSizeF(g.width * label.module, 4 * g.bands * label.module));
}

// The page pixels a scanner looks at for one label: the symbol and its quiet zone.
QRect cropArea(const Label& label, const CodeGeometry& g, int dpi, const QSize& page)
{
    const double quiet = kQuietModules * label.module;
    const QRectF area = symbolRect(label, g).adjusted(-quiet, -quiet, quiet, quiet);
    const double scale = dpi / 72.0;
    return QRectF(area.topLeft() * scale, area.bottomRight() * scale)
        .toAlignedRect()
        .intersected(QRect(QPoint(), page));
}

struct Sheet {
    const ProofOptions& options;
    const BaseRecords& base;
    const Plan& plan;
    const ProofReport* report = nullptr;  // the marks, once read
};

QFont textFont(double points, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString elided(const QString& text, const QFont& font, double width, QPaintDevice* device)
{
    return QFontMetricsF(font, device).elidedText(text, Qt::ElideRight, width);
}

QString shown(const QByteArray& bytes)
{
    QString text = QString::fromLatin1(bytes);
    for (QChar& c : text)
        if (c.unicode() < 0x20)
            c = QChar(0x00B7);
    return text;
}

// The label pages' page `page`: its title, its codes and their texts.
void drawLabelPage(QPainter& painter, QPaintDevice* device, const Sheet& sheet, int page)
{
    const double unit = device->logicalDpiY() / 72.0;
    painter.setPen(Qt::black);
    int size = 0;
    while (size + 1 < sheet.plan.firstPage.size() && sheet.plan.firstPage.at(size + 1) <= page)
        ++size;
    painter.setFont(textFont(8, true));
    painter.drawText(QRectF(kMargin * unit, kMargin * unit, (kPageWidth - 2 * kMargin) * unit, (kHeader - 6) * unit),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     tr("Épreuve d'impression — %1 — %2 pt — page %3")
                         .arg(QFileInfo(sheet.options.basePath).fileName(), frenchNumber(sheet.options.sizes.at(size)))
                         .arg(page + 2));
    const QFont small = textFont(6.5);
    const QFont bold = textFont(6.5, true);
    for (const Label& label : sheet.plan.labels) {
        if (label.page != page)
            continue;
        const ProofRecord& record = sheet.base.records.at(label.record);
        QByteArray code = record.code;
        while (code.endsWith(' '))
            code.chop(1);
        const LaidOutCode laid = layOutCode(code, sheet.base.geometry, sheet.options.fontFamily,
                                            sheet.options.sizes.at(label.size), device);
        painter.setPen(Qt::black);
        laid.layout->draw(&painter, label.symbol * unit);

        double y = label.text.top();
        auto line = [&](const QString& text, const QFont& font, const QColor& color) {
            painter.setFont(font);
            painter.setPen(color);
            const QRectF r(label.text.left() * unit, y * unit, label.text.width() * unit, kLineHeight * unit);
            painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, elided(text, font, r.width(), device));
            y += kLineHeight;
        };
        line(tr("Enr. n°%1").arg(record.number)
                 + (record.label.isEmpty() ? QString() : QStringLiteral("  ") + record.label),
             bold, Qt::black);
        line(record.checked ? tr("Attendu : « %1 »").arg(shown(record.expected)) : tr("Aucune valeur attendue"), small,
             Qt::black);
        QString hri;
        if (sheet.report) {
            for (int d = 0; d < sheet.options.resolutions.size(); ++d) {
                const PassResult& pass = sheet.report->passes.at(label.size * sheet.options.resolutions.size() + d);
                const CodeResult& result = pass.codes.at(label.record);
                if (result.read && !result.read->hri.isEmpty())
                    hri = result.read->hri;
            }
        }
        if (!hri.isEmpty())
            line(tr("HRI : %1").arg(hri), small, Qt::black);
        if (!sheet.report)
            continue;
        for (int d = 0; d < sheet.options.resolutions.size(); ++d) {
            const PassResult& pass = sheet.report->passes.at(label.size * sheet.options.resolutions.size() + d);
            const CodeResult& result = pass.codes.at(label.record);
            const QString text = result.ok() ? tr("%1 dpi : lu").arg(pass.dpi)
                : result.read ? tr("%1 dpi : FAUX, relu « %2 »").arg(pass.dpi).arg(shown(result.read->bytes))
                              : tr("%1 dpi : NON LU").arg(pass.dpi);
            line(text, result.ok() ? small : bold, result.ok() ? QColor(0, 110, 0) : QColor(200, 0, 0));
        }
    }
}

void drawSummaryPage(QPainter& painter, QPaintDevice* device, const Sheet& sheet)
{
    const double unit = device->logicalDpiY() / 72.0;
    const ProofOptions& o = sheet.options;
    const ProofReport& report = *sheet.report;
    const CodeGeometry& g = sheet.base.geometry;
    double y = kMargin;
    auto line = [&](const QString& text, const QFont& font, double height = 13, const QColor& color = Qt::black) {
        painter.setFont(font);
        painter.setPen(color);
        const QRectF r(kMargin * unit, y * unit, (kPageWidth - 2 * kMargin) * unit, height * unit);
        painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, elided(text, font, r.width(), device));
        y += height;
    };
    const QFont title = textFont(16, true);
    const QFont heading = textFont(10, true);
    const QFont body = textFont(9);
    line(tr("Épreuve d'impression"), title, 28);
    line(tr("Base : %1").arg(QDir::toNativeSeparators(QFileInfo(o.basePath).absoluteFilePath())), body);
    line(tr("Champ du code : %1").arg(sheet.base.codeField), body);
    line(o.checkField.isEmpty() && o.valueTemplate.isEmpty()
             ? tr("Valeur attendue : aucune (chaque code doit seulement se relire)")
             : tr("Valeur attendue : %1").arg(o.checkField.isEmpty() ? o.valueTemplate : o.checkField),
         body);
    if (!o.labelField.isEmpty())
        line(tr("Texte des étiquettes : %1").arg(o.labelField), body);
    QString records;
    switch (o.records.kind) {
    case RecordChoiceKind::All:
        records = tr("tous les %1 de la base").arg(sheet.base.count);
        break;
    case RecordChoiceKind::Range:
        records = tr("%1 à %2 sur les %3 de la base").arg(o.records.first).arg(o.records.last).arg(sheet.base.count);
        break;
    case RecordChoiceKind::Sample:
        records = tr("%1 répartis sur les %2 de la base").arg(o.records.count).arg(sheet.base.count);
        break;
    }
    line(tr("Enregistrements : %1 ; %2 codes imprimés à chaque taille").arg(records).arg(sheet.base.records.size()),
         body);
    QStringList sizes, dpis;
    for (double s : o.sizes)
        sizes << frenchNumber(s);
    for (int d : o.resolutions)
        dpis << QString::number(d);
    line(tr("Taille : %1 pt ; résolution : %2 dpi")
             .arg(sizes.join(QStringLiteral(", ")), dpis.join(QStringLiteral(", "))),
         body);
    line(tr("Tramage : %1 ; lecture : zxing-cpp").arg(rasterizerName(report.rasterizer)), body);
    y += 8;
    line(tr("Symbole : %1 × %2 modules (%3 rangées de quatre modules)").arg(g.width).arg(g.height()).arg(g.bands),
         heading, 16);
    const bool sweep = o.sizes.size() > 1;
    // Sizes in millimetres and module in printer dots, for each size (a sweep shows its ends).
    QList<double> described = o.sizes;
    if (sweep)
        described = {o.sizes.first(), o.sizes.last()};
    for (double size : described) {
        const double module = size / 4;  // points
        const double mm = 25.4 / 72;
        line(tr("à %1 pt : %2 × %3 mm, module de %4 mm")
                 .arg(frenchNumber(size), frenchNumber(g.width * module * mm, 1),
                      frenchNumber(g.height() * module * mm, 1), frenchNumber(module * mm, 3)),
             body);
        for (int dpi : o.resolutions) {
            const double dots = module / 72 * dpi;
            const bool whole = std::abs(dots - std::round(dots)) < 1e-6;
            line(tr("    %1 dpi : module de %2 points d'imprimante%3")
                     .arg(dpi)
                     .arg(frenchNumber(dots, 2))
                     .arg(whole ? QString() : tr(" (pas un nombre entier de points)")),
                 body);
        }
    }
    y += 8;
    line(tr("Codes relus"), heading, 16);
    if (!sweep) {
        for (const PassResult& pass : report.passes)
            line(readSummaryText(pass), body, 13,
                 pass.readCount() == pass.codes.size() ? QColor(0, 110, 0) : QColor(200, 0, 0));
        return;
    }
    // Sizes x resolutions, then the smallest size that reads every code.
    const double column = 70;
    painter.setFont(body);
    painter.setPen(Qt::black);
    auto cell = [&](int c, const QString& text, const QColor& color) {
        painter.setPen(color);
        painter.drawText(QRectF((kMargin + c * column) * unit, y * unit, column * unit, 12 * unit),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    cell(0, tr("Taille"), Qt::black);
    for (int d = 0; d < o.resolutions.size(); ++d)
        cell(d + 1, tr("%1 dpi").arg(o.resolutions.at(d)), Qt::black);
    y += 12;
    for (int s = 0; s < o.sizes.size(); ++s) {
        cell(0, tr("%1 pt").arg(frenchNumber(o.sizes.at(s))), Qt::black);
        for (int d = 0; d < o.resolutions.size(); ++d) {
            const PassResult& pass = report.passes.at(s * o.resolutions.size() + d);
            const bool all = pass.readCount() == pass.codes.size();
            cell(d + 1, QStringLiteral("%1/%2").arg(pass.readCount()).arg(pass.codes.size()),
                 all ? QColor(0, 110, 0) : QColor(200, 0, 0));
        }
        y += 12;
    }
    y += 6;
    for (int dpi : o.resolutions) {
        const std::optional<double> smallest = report.smallestSize(dpi);
        line(smallest ? tr("À %1 dpi, la plus petite taille qui relit tous les codes : %2 pt")
                            .arg(dpi)
                            .arg(frenchNumber(*smallest))
                      : tr("À %1 dpi, aucune taille ne relit tous les codes.").arg(dpi),
             body);
    }
}

void preparePdf(QPdfWriter& writer)
{
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(kPdfResolution);
    writer.setTitle(tr("Épreuve d'impression"));
    writer.setCreator(QStringLiteral("Codiflux"));
}

// The label pages alone, for the rasterizer.
Error writeDraft(const QString& path, const Sheet& sheet, const std::atomic<bool>* cancel)
{
    QPdfWriter writer(path);
    preparePdf(writer);
    QPainter painter;
    if (!painter.begin(&writer))
        return Error(ErrorCode::WriteFailed, tr("Impossible d'écrire l'épreuve temporaire « %1 ».").arg(path));
    for (int page = 0; page < sheet.plan.pages; ++page) {
        if (cancelled(cancel))
            return cancelledError();
        if (page > 0)
            writer.newPage();
        drawLabelPage(painter, &writer, sheet, page);
    }
    return painter.end() ? Error() : Error(ErrorCode::WriteFailed, tr("Impossible d'écrire l'épreuve temporaire."));
}

// A label page painted by Qt itself at `dpi`, in one bit.
QImage qtRaster(const Sheet& sheet, int page, int dpi)
{
    QImage image(int(std::lround(kPageWidth / 72 * dpi)), int(std::lround(kPageHeight / 72 * dpi)),
                 QImage::Format_RGB32);
    image.setDotsPerMeterX(int(std::lround(dpi / 0.0254)));
    image.setDotsPerMeterY(int(std::lround(dpi / 0.0254)));
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        drawLabelPage(painter, &image, sheet, page);
    }
    return image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::MonoOnly);
}

}  // namespace

Error makeProof(const ProofOptions& o, ProofReport& report, const ProofControl& control)
{
    report = ProofReport();
    auto progress = [&control](int permille) {
        if (control.progress)
            control.progress(permille);
    };
    if (o.sizes.isEmpty() || o.resolutions.isEmpty())
        return Error(ErrorCode::ParameterRefused, tr("Aucune taille ou aucune résolution n'est demandée."));
    for (int dpi : o.resolutions)
        if (dpi < 72 || dpi > 2400)
            return Error(ErrorCode::ParameterRefused, tr("Résolution invalide : %1 dpi (de 72 à 2400).").arg(dpi));
    if (o.fontFamily.isEmpty() || !QFontDatabase::families().contains(o.fontFamily))
        return Error(ErrorCode::SourceUnreadable,
                     tr("La police du code « %1 » n'est pas disponible.").arg(o.fontFamily));
    const QFileInfo pdfInfo(o.pdfPath);
    if (o.pdfPath.isEmpty() || pdfInfo.isDir())
        return Error(ErrorCode::ParameterRefused,
                     tr("Fichier PDF de l'épreuve manquant : indiquez-le avec -o FICHIER."));
    if (pdfInfo.exists() && pdfInfo.canonicalFilePath() == QFileInfo(o.basePath).canonicalFilePath())
        return Error(ErrorCode::DestinationRefused, tr("L'épreuve ne peut pas remplacer la base encodée."));

    BaseRecords base;
    if (Error error = readProofRecords(o, base, control.cancel))
        return error;
    progress(100);
    report.rasterizer = o.rasterizer.value_or(defaultRasterizer());
    report.codeField = base.codeField;
    report.geometry = base.geometry;
    report.baseRecords = base.count;
    const Plan plan = planSheet(base.geometry, o.sizes, int(base.records.size()), int(o.resolutions.size()));
    report.pages = 1 + plan.pages;
    for (double size : o.sizes)
        for (int dpi : o.resolutions) {
            PassResult pass;
            pass.size = size;
            pass.dpi = dpi;
            for (const ProofRecord& record : base.records)
                pass.codes.append({record.number, record.expected, record.checked, std::nullopt});
            report.passes.append(pass);
        }
    Sheet sheet{o, base, plan, nullptr};

    // The codes read from each label page as the printer rasterizes it.
    auto readPage = [&](int page, const QImage& image, int d) {
        for (const Label& label : plan.labels)
            if (label.page == page) {
                PassResult& pass = report.passes[label.size * o.resolutions.size() + d];
                pass.codes[label.record].read = readCode(image, cropArea(label, base.geometry, pass.dpi, image.size()));
            }
    };
    QTemporaryDir work;
    if (report.rasterizer == Rasterizer::Ghostscript) {
        if (!work.isValid())
            return Error(ErrorCode::WriteFailed,
                         tr("Impossible de créer un dossier temporaire : %1").arg(work.errorString()));
        const QString draft = work.filePath(QStringLiteral("labels.pdf"));
        if (Error error = writeDraft(draft, sheet, control.cancel))
            return error;
        progress(200);
        for (int d = 0; d < o.resolutions.size(); ++d) {
            Error error = rasterizeWithGhostscript(
                draft, o.resolutions.at(d), control.rasterTimeoutMs, control.cancel,
                [&](int page, const QImage& image) {
                    readPage(page, image, d);
                    progress(200 + 700 * (d * plan.pages + page + 1) / int(o.resolutions.size() * plan.pages));
                    return !cancelled(control.cancel);
                });
            if (error)
                return error;
        }
    } else {
        for (int d = 0; d < o.resolutions.size(); ++d)
            for (int page = 0; page < plan.pages; ++page) {
                if (cancelled(control.cancel))
                    return cancelledError();
                readPage(page, qtRaster(sheet, page, o.resolutions.at(d)), d);
                progress(100 + 800 * (d * plan.pages + page + 1) / int(o.resolutions.size() * plan.pages));
            }
    }
    if (cancelled(control.cancel))
        return cancelledError();

    // The sheet itself: the summary, then the labels with their marks; in
    // place only once written whole.
    sheet.report = &report;
    QSaveFile file(o.pdfPath);
    if (!file.open(QIODevice::WriteOnly))
        return Error(ErrorCode::WriteFailed,
                     tr("L'épreuve « %1 » ne peut être écrite : %2").arg(o.pdfPath, file.errorString()));
    {
        QPdfWriter writer(&file);
        preparePdf(writer);
        QPainter painter;
        if (!painter.begin(&writer))
            return Error(ErrorCode::WriteFailed, tr("L'épreuve « %1 » ne peut être écrite.").arg(o.pdfPath));
        drawSummaryPage(painter, &writer, sheet);
        for (int page = 0; page < plan.pages; ++page) {
            if (cancelled(control.cancel)) {
                painter.end();
                file.cancelWriting();
                return cancelledError();
            }
            writer.newPage();
            drawLabelPage(painter, &writer, sheet, page);
        }
        if (!painter.end())
            return Error(ErrorCode::WriteFailed, tr("L'épreuve « %1 » ne peut être écrite.").arg(o.pdfPath));
    }
    if (!file.commit())
        return Error(ErrorCode::WriteFailed,
                     tr("L'épreuve « %1 » ne peut être écrite : %2").arg(o.pdfPath, file.errorString()));
    progress(1000);
    return {};
}

}  // namespace codiflux::proof
