#pragma once
// The proof sheet: the codes of an encoded base laid out in the 2D-code font
// by Qt's text engine into an A4 PDF, as an office suite lays them out, then
// rasterized the way a printer does (Ghostscript 1-bit, or Qt's own raster at
// 1 bit) and read back label by label with zxing-cpp. The check is made on the
// printed page, not on the grid. Needs a QGuiApplication (fonts, PDF writer);
// touches no widget, so it runs on any thread.

#include "bases/csvbase.h"
#include "bases/error.h"

#include <QByteArray>
#include <QFont>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <QTextLayout>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QPaintDevice;
class QPainter;

namespace codiflux::proof {

// ---------------------------------------------------------------------------
// The code text of a base and how it prints

// How the code text of a base breaks into the symbol's bands.
struct CodeGeometry {
    int width = 0;           // W: characters of a band (modules across)
    int bands = 0;           // B: bands of four modules
    bool endOfLine = false;  // a character ends each band
    char endOfLineCharacter = ' ';
    int height() const;  // H: the symbol's rows (W when square, else 4 x B)
    int fieldLength() const { return bands * (endOfLine ? width + 1 : width); }
};

// The geometry of one code text: its bands are W characters 'A'-'P', each
// followed by the same end-of-line character (the last one may be missing or
// blank); without one, W is `width` or, when 0, that of a square symbol.
// None when the text does not have that shape.
std::optional<CodeGeometry> codeGeometry(const QByteArray& text, int width = 0);

// The text as the office suite is given it: Latin-1 characters, a line feed
// made a line break inside the paragraph.
QString layoutText(const QByteArray& text);

// One code laid out in the font at `size` points on `device` (whose
// resolution fixes the units): a space or another end-of-line character
// breaks the text by wrapping in a frame 1.5 W modules wide, a line feed
// breaks it itself, a text without one wraps anywhere in a frame W modules
// wide. `symbol` is the symbol's rectangle, origin at the layout's origin.
struct LaidOutCode {
    std::unique_ptr<QTextLayout> layout;
    QSizeF symbol;  // device units
    int lines = 0;
};
LaidOutCode layOutCode(const QByteArray& text, const CodeGeometry& geometry, const QString& family, double size,
                       QPaintDevice* device);

// What a scanner reads in `area` (page pixels) of a 1-bit page: the raw bytes
// and, for GS1 content, its human-readable text.
struct ReadCode {
    QByteArray bytes;
    QString hri;
};
std::optional<ReadCode> readCode(const QImage& page, const QRect& area);

// The rasterizer that stands for the printer.
enum class Rasterizer { Ghostscript, Qt };
// Ghostscript when `gs` is installed, else Qt.
Rasterizer defaultRasterizer();
// "Ghostscript 10.00.0 (pngmono, 1 bit)" or "Qt (1 bit)".
QString rasterizerName(Rasterizer rasterizer);

// Every page of `pdf` rendered by Ghostscript's pngmono device at `dpi`, in a
// temporary folder removed on return; the child process is stopped after
// `timeoutMs` or when `cancel` is set. `pageDone` gets each page, 0-based,
// in order; it returns false to stop.
Error rasterizeWithGhostscript(const QString& pdf, int dpi, int timeoutMs, const std::atomic<bool>* cancel,
                               const std::function<bool(int, const QImage&)>& pageDone);

// ---------------------------------------------------------------------------
// The proof of a base

enum class RecordChoiceKind { All, Range, Sample };
struct RecordChoice {
    RecordChoiceKind kind = RecordChoiceKind::Sample;
    qint64 first = 1;  // Range, 1-based, inclusive
    qint64 last = 1;
    int count = 48;  // Sample: records spread over the base
};
// "1-50", "7", "all", "sample:N"; false for anything else.
bool parseRecordChoice(const QString& text, RecordChoice* choice);
// "3-12" (half points) or "6"; false for anything else or outside 1 to 72 pt.
bool parseSizes(const QString& text, QList<double>* sizes);

struct ProofOptions {
    QString basePath;       // the encoded base: .dbf, .csv or a text file
    QString pdfPath;        // the proof sheet to write
    QString codeField;      // DBF field or CSV column; text base: "START:COUNT"; empty: found
    QString checkField;     // what each code must read back: a field (text: "START:COUNT")...
    QString valueTemplate;  // ...or a text with {FIELD} (text: {START:COUNT}) in place of values
    QString labelField;     // printed beside each code
    QList<double> sizes{6.0};
    QList<int> resolutions{300};
    RecordChoice records;
    bool trimStart = false;  // the generation removed the spaces before each value
    bool trimEnd = false;    // ...after each value
    int codeWidth = 0;       // W of a code text without end-of-line character; 0: square
    CsvOptions csv;
    QString fontFamily;  // the 2D-code font's family, registered by the caller
    std::optional<Rasterizer> rasterizer;
};

// The options the window and the command line start from.
ProofOptions defaultProofOptions(const QString& basePath, const QString& pdfPath, double size, int dpi,
                                 const QString& fontFamily);

struct CodeResult {
    qint64 record = 0;
    QByteArray expected;  // empty when nothing is expected
    bool checked = false;
    std::optional<ReadCode> read;
    bool ok() const { return read && (!checked || read->bytes == expected); }
};

struct PassResult {  // one size at one resolution
    double size = 0;
    int dpi = 0;
    QList<CodeResult> codes;
    int readCount() const;
};

struct ProofReport {
    Rasterizer rasterizer = Rasterizer::Qt;
    QString codeField;  // the field the codes were taken from
    CodeGeometry geometry;
    qint64 baseRecords = 0;
    QList<PassResult> passes;  // sizes x resolutions, in that order
    int pages = 0;
    // The smallest size from which every size of the sweep reads every code
    // at `dpi`; none when the largest does not.
    std::optional<double> smallestSize(int dpi) const;
    // All read: every code of every pass, or for a sweep a smallest size at
    // every resolution.
    bool passed() const;
};

struct ProofControl {
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(int)> progress;  // per mille
    int rasterTimeoutMs = 300000;       // per Ghostscript run
};

// Reads the chosen records, makes the PDF (written in place only whole) and
// reads every code back from the rasterized pages.
Error makeProof(const ProofOptions& options, ProofReport& report, const ProofControl& control = {});

// "2,5" for 2.5: numbers as the French texts write them.
QString frenchNumber(double value, int decimals = 2);
// « N/N codes relus à S pt, D dpi »
QString readSummaryText(const PassResult& pass);

}  // namespace codiflux::proof
