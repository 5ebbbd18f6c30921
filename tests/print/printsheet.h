#pragma once
// The print test's sheet, shared with the proof's test: code fields laid out
// by the proof's own layout in the font into a PDF, one row a size and one
// column a placement (each shifted by a fraction of a 300 dpi pixel, since
// where a glyph edge falls inside a pixel decides a seam), read back by the
// proof's own reader.

#include "generation/proof.h"

#include <QPainter>
#include <QPdfWriter>

#include <optional>

namespace printsheet {

constexpr int kPdfDpi = 1200;  // QPdfWriter's device units
constexpr int kQuietModules = 5;

struct PlacedCode {
    int page = 0;
    double size = 0;
    QByteArray value;
    QRectF symbol;      // inches
    double module = 0;  // inches
};

// One page a list of fields; `values` are what they must read back. A cell
// of 1.5 inch holds a symbol of 36 modules at 7.2 pt and its quiet zone.
inline QList<PlacedCode> writeSheet(const QString& pdf, const QList<QList<QByteArray>>& fields,
                                    const QList<QList<QByteArray>>& values, const QList<double>& sizes, int placements,
                                    const QString& family)
{
    QList<PlacedCode> codes;
    QPdfWriter writer(pdf);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(kPdfDpi);
    QPainter painter(&writer);
    for (int page = 0; page < fields.size(); ++page) {
        if (page > 0)
            writer.newPage();
        for (int i = 0; i < fields.at(page).size() && i < sizes.size() * placements; ++i) {
            const QByteArray& text = fields.at(page).at(i);
            const std::optional<codiflux::proof::CodeGeometry> geometry = codiflux::proof::codeGeometry(text);
            if (!geometry)
                return {};
            const double size = sizes.at(i / placements);
            const double shift = (i % placements) * (kPdfDpi / 300.0) / placements;
            const codiflux::proof::LaidOutCode laid
                = codiflux::proof::layOutCode(text, *geometry, family, size, &writer);
            if (laid.lines != geometry->bands)
                return {};
            const QPointF origin
                = QPointF(i % placements + 0.25, i / placements + 0.25) * 1.5 * kPdfDpi + QPointF(shift, shift);
            laid.layout->draw(&painter, origin);
            codes.append(
                {page, size, values.at(page).at(i), QRectF(origin / kPdfDpi, laid.symbol / kPdfDpi), size / 4 / 72});
        }
    }
    painter.end();
    return codes;
}

inline bool reads(const PlacedCode& code, const QImage& page, int dpi)
{
    const double margin = kQuietModules * code.module;
    const QRectF area = code.symbol.adjusted(-margin, -margin, margin, margin);
    const QRect crop = QRectF(area.topLeft() * dpi, area.bottomRight() * dpi).toRect();
    const std::optional<codiflux::proof::ReadCode> read = codiflux::proof::readCode(page, crop);
    return read && read->bytes == code.value;
}

// The pages rasterized by Ghostscript as the proof does it.
inline QList<QImage> ghostscriptPages(const QString& pdf, int dpi)
{
    QList<QImage> pages;
    const codiflux::Error error
        = codiflux::proof::rasterizeWithGhostscript(pdf, dpi, 120000, nullptr, [&pages](int, const QImage& image) {
              pages.append(image);
              return true;
          });
    return error ? QList<QImage>() : pages;
}

// The smallest size of the sheet from which every code of every larger size
// reads; none when the largest does not.
inline std::optional<double> smallestSize(const QList<PlacedCode>& codes, const QList<QImage>& pages, int dpi)
{
    QList<double> sizes;
    for (const PlacedCode& code : codes)
        if (!sizes.contains(code.size))
            sizes.append(code.size);
    std::sort(sizes.begin(), sizes.end(), std::greater<>());
    std::optional<double> smallest;
    for (double size : sizes) {
        for (const PlacedCode& code : codes)
            if (code.size == size && !reads(code, pages.value(code.page), dpi))
                return smallest;
        smallest = size;
    }
    return smallest;
}

}  // namespace printsheet
