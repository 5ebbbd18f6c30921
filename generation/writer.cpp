#include "generation/writer.h"

#include "generation/texts.h"

#include <QFile>

#include <cstring>
#include <vector>

namespace codiflux {

using namespace texts;

namespace {

constexpr qint64 kMaxDbfLength = 65535;  // header and record lengths are 16-bit fields

#ifdef Q_OS_WIN
constexpr char kLineEnd[] = "\r\n";
#else
constexpr char kLineEnd[] = "\n";
#endif
constexpr qint64 kLineEndLength = qint64(sizeof(kLineEnd)) - 1;

void put16(char* p, qint64 v)
{
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
}

void put32(char* p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
}  // namespace

QString longCodeFieldWarning(int fieldLength)
{
    if (fieldLength <= kDbfReaderFieldLimit)
        return {};
    return generationText(kTextLongCodeField).arg(fieldLength).arg(kDbfReaderFieldLimit);
}

QByteArray buildEncodedHeader(const SourceLayout& layout, const RecordPlan& plan, qint64 recordCount,
                              const QByteArray& newFieldName, QString* error, bool withMemo)
{
    const qint64 fieldCount = layout.fields.size();
    // A Visual FoxPro table's memo needs the table's own version and its
    // 263-byte area behind the terminator.
    const bool foxProArea = withMemo && (layout.version == 0x30 || layout.version == 0x31 || layout.version == 0x32);
    const qint64 terminator = 32 * (fieldCount + 2);
    const qint64 headerLength = terminator + 1 + (foxProArea ? 263 : 0);
    const qint64 recordLength = plan.outputLength();
    if (headerLength > kMaxDbfLength) {
        if (error)
            *error = generationText(kTextHeaderTooLong).arg(headerLength).arg(fieldCount + 1);
        return {};
    }
    if (recordLength > kMaxDbfLength) {
        if (error)
            *error = generationText(kTextRecordTooLong).arg(recordLength);
        return {};
    }

    QByteArray header(int(headerLength), '\0');
    char* h = header.data();
    std::memcpy(h, layout.header.constData(), 32);
    h[0] = withMemo ? char(layout.version) : char(0x03);
    put32(h + 4, quint32(recordCount));
    put16(h + 8, headerLength);
    put16(h + 10, recordLength);

    const qint64 kept = plan.tagsRule ? fieldCount - 1 : fieldCount;
    std::memcpy(h + 32, layout.header.constData() + 32, std::size_t(32 * kept));
    char* d = h + 32 + 32 * kept;
    const QByteArray name = newFieldName.left(10);
    std::memcpy(d, name.constData(), std::size_t(name.size()));
    d[11] = 'C';
    put16(d + 12, plan.insertion);
    put16(d + 16, plan.codeLength);
    if (plan.tagsRule) {
        d += 32;
        std::memcpy(d, "TAGS", 4);
        d[11] = 'C';
        put16(d + 12, plan.insertion + plan.codeLength + 14);
        d[14] = char(0x7E);
        d[15] = char(0x49);
        put16(d + 16, 8);
        d[20] = 0x01;
    }
    h[terminator] = 0x0D;
    return header;
}

OutputWriter::OutputWriter(OutputFiles& files)
    : files_(files)
{ }

OutputWriter::~OutputWriter()
{
    if (!committed_)
        discard();
}

bool OutputWriter::open(const QByteArray& dbfHeader, QString* error)
{
    committed_ = false;
    if (const Error locked = files_.lock()) {
        if (error)
            *error = locked.text;
        return false;
    }
    for (const QString& destination : files_.destinations()) {
        const QString refusal = destinationRefusal(destination);
        if (!refusal.isEmpty()) {
            if (error)
                *error = refusal;
            return false;
        }
    }
    if (!files_.dbfPath_.isEmpty()) {
        dbf_.reset(openExclusive(files_.dbfTemporary_));
        if (!dbf_) {
            if (error)
                *error = generationText(kTextCannotWrite);
            return false;
        }
        files_.dbfCreated_ = true;
        std::setvbuf(dbf_.get(), nullptr, _IOFBF, kFileBuffer);
        if (std::fwrite(dbfHeader.constData(), 1, std::size_t(dbfHeader.size()), dbf_.get())
            != std::size_t(dbfHeader.size())) {
            if (error)
                *error = generationText(kTextDbfWriteError);
            return false;
        }
    }
    if (!files_.textPath_.isEmpty()) {
        text_.reset(openExclusive(files_.textTemporary_));
        if (!text_) {
            if (error)
                *error = generationText(kTextCannotWrite);
            return false;
        }
        files_.textCreated_ = true;
        std::setvbuf(text_.get(), nullptr, _IOFBF, kFileBuffer);
    }
    return true;
}

bool OutputWriter::copyMemo(const QString& sourceMemo, const QString& destination,
                            const std::function<bool()>& beforeChunk, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    // The memo's destination is locked and checked as the others are.
    if (const Error locked = files_.lock(destination))
        return fail(locked.text);
    const QString refusal = destinationRefusal(destination);
    if (!refusal.isEmpty())
        return fail(refusal);
    QFile source(sourceMemo);
    if (!source.open(QIODevice::ReadOnly))
        return fail(cannotOpenSourceText());
    FilePtr out(openExclusive(files_.memoTemporary_));
    if (!out)
        return fail(generationText(kTextCannotWrite));
    files_.memoCreated_ = true;
    std::vector<char> chunk(kFileBuffer);
    for (;;) {
        if (beforeChunk && !beforeChunk())
            return fail(cancelledText());
        const qint64 got = source.read(chunk.data(), qint64(chunk.size()));
        if (got < 0)
            return fail(sourceReadText());
        if (got == 0)
            break;
        if (std::fwrite(chunk.data(), 1, std::size_t(got), out.get()) != std::size_t(got))
            return fail(generationText(kTextMemoWriteError));
    }
    if (!finishFile(out.release()))
        return fail(generationText(kTextMemoWriteError));
    files_.memoPath_ = destination;
    return true;
}

bool OutputWriter::writeRecord(char* record, qint64 length, QString* error)
{
    if (dbf_ && qint64(std::fwrite(record, 1, std::size_t(length), dbf_.get())) != length) {
        if (error)
            *error = generationText(kTextDbfWriteError);
        return false;
    }
    if (text_) {
        for (qint64 i = 1; i < length; ++i)
            if (record[i] == '\r' || record[i] == '\n')
                record[i] = ' ';
        qint64 written = qint64(std::fwrite(record + 1, 1, std::size_t(length - 1), text_.get()));
        written += qint64(std::fwrite(kLineEnd, 1, std::size_t(kLineEndLength), text_.get())) ? 1 : 0;
        if (written < length) {
            if (error)
                *error = generationText(kTextTxtWriteError);
            return false;
        }
    }
    return true;
}

bool OutputWriter::commit(QString* error)
{
    if (dbf_ && !finishFile(dbf_.release())) {
        if (error)
            *error = generationText(kTextDbfWriteError);
        discard();
        return false;
    }
    if (text_ && !finishFile(text_.release())) {
        if (error)
            *error = generationText(kTextTxtWriteError);
        discard();
        return false;
    }
    // A run given up by another thread moves nothing into place.
    int expected = OutputFiles::Open;
    if (!files_.state_.compare_exchange_strong(expected, OutputFiles::Committing)) {
        if (error)
            *error = generationText(kTextCannotWrite);
        discard();
        return false;
    }
    // Every output, or none: each destination is checked before the first
    // move. The memo goes first, so that an encoded DBF never stands beside a
    // memo file that is not its own.
    QList<PendingMove> moves;
    if (files_.memoCreated_ && !files_.memoPath_.isEmpty())
        moves.append({files_.memoTemporary_, files_.memoPath_});
    if (files_.dbfCreated_)
        moves.append({files_.dbfTemporary_, files_.dbfPath_});
    if (files_.textCreated_)
        moves.append({files_.textTemporary_, files_.textPath_});
    for (const PendingMove& move : std::as_const(moves)) {
        const QString refusal = destinationRefusal(move.destination);
        if (!refusal.isEmpty()) {
            if (error)
                *error = refusal;
            discard();
            return false;
        }
    }
    if (!moveAllIntoPlace(moves)) {
        if (error)
            *error = generationText(kTextCannotWrite);
        discard();
        return false;
    }
    files_.dbfCreated_ = false;
    files_.textCreated_ = false;
    files_.memoCreated_ = false;
    committed_ = true;
    files_.unlock();
    return true;
}

void OutputWriter::discard()
{
    dbf_.reset();
    text_.reset();
    files_.removeTemporaries();
    files_.unlock();
}

}  // namespace codiflux
