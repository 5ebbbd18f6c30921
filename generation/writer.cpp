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

QString longCodeFieldWarning(const BaseFormat* format, int fieldLength)
{
    return format && format->warnsLongFields() ? longCodeFieldWarning(fieldLength) : QString();
}

Error buildEncodedHeader(const SourceLayout& layout, const RecordPlan& plan, qint64 recordCount,
                         const QByteArray& newFieldName, bool withMemo, QByteArray& header)
{
    header.clear();
    const qint64 fieldCount = layout.fields.size();
    // A Visual FoxPro table's memo needs the table's own version and its
    // 263-byte area behind the terminator.
    const bool foxProArea = withMemo && (layout.version == 0x30 || layout.version == 0x31 || layout.version == 0x32);
    const bool hri = plan.hriLength > 0;
    const qint64 terminator = 32 * (fieldCount + 2 + (hri ? 1 : 0));
    const qint64 headerLength = terminator + 1 + (foxProArea ? 263 : 0);
    const qint64 recordLength = plan.outputLength();
    if (headerLength > kMaxDbfLength)
        return Error(ErrorCode::ValueRefused, generationText(kTextHeaderTooLong).arg(headerLength).arg(fieldCount + 1));
    if (recordLength > kMaxDbfLength)
        return Error(ErrorCode::ValueRefused, generationText(kTextRecordTooLong).arg(recordLength));

    header = QByteArray(int(headerLength), '\0');
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
    if (hri) {
        d += 32;
        const QByteArray hriName = plan.hriFieldName.left(10);
        std::memcpy(d, hriName.constData(), std::size_t(hriName.size()));
        d[11] = 'C';
        put16(d + 12, plan.insertion + plan.codeLength);
        put16(d + 16, plan.hriLength);
    }
    if (plan.tagsRule) {
        d += 32;
        std::memcpy(d, "TAGS", 4);
        d[11] = 'C';
        put16(d + 12, plan.insertion + plan.codeLength + plan.hriLength + 14);
        d[14] = char(0x7E);
        d[15] = char(0x49);
        put16(d + 16, 8);
        d[20] = 0x01;
    }
    h[terminator] = 0x0D;
    return {};
}

OutputWriter::OutputWriter(OutputFiles& files)
    : files_(files)
{ }

OutputWriter::~OutputWriter()
{
    if (!committed_)
        discard();
}

Error OutputWriter::open(const QByteArray& dbfHeader)
{
    committed_ = false;
    if (Error error = files_.lock())
        return error;
    for (const QString& destination : files_.destinations()) {
        const QString refusal = destinationRefusal(destination);
        if (!refusal.isEmpty())
            return Error(ErrorCode::DestinationRefused, refusal);
    }
    if (!files_.dbfPath_.isEmpty()) {
        dbf_.reset(openExclusive(files_.dbfTemporary_));
        if (!dbf_)
            return Error(ErrorCode::WriteFailed, generationText(kTextCannotWrite));
        files_.dbfCreated_ = true;
        std::setvbuf(dbf_.get(), nullptr, _IOFBF, kFileBuffer);
        if (std::fwrite(dbfHeader.constData(), 1, std::size_t(dbfHeader.size()), dbf_.get())
            != std::size_t(dbfHeader.size()))
            return Error(ErrorCode::WriteFailed, generationText(kTextDbfWriteError));
    }
    if (!files_.textPath_.isEmpty()) {
        text_.reset(openExclusive(files_.textTemporary_));
        if (!text_)
            return Error(ErrorCode::WriteFailed, generationText(kTextCannotWrite));
        files_.textCreated_ = true;
        std::setvbuf(text_.get(), nullptr, _IOFBF, kFileBuffer);
    }
    return {};
}

Error OutputWriter::copyMemo(const QString& sourceMemo, const QString& destination,
                             const std::function<bool()>& beforeChunk)
{
    // The memo's destination is locked and checked as the others are.
    if (Error error = files_.lock(destination))
        return error;
    const QString refusal = destinationRefusal(destination);
    if (!refusal.isEmpty())
        return Error(ErrorCode::DestinationRefused, refusal);
    QFile source(sourceMemo);
    if (!source.open(QIODevice::ReadOnly))
        return Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    FilePtr out(openExclusive(files_.memoTemporary_));
    if (!out)
        return Error(ErrorCode::WriteFailed, generationText(kTextCannotWrite));
    files_.memoCreated_ = true;
    const Error writeFailed(ErrorCode::WriteFailed, generationText(kTextMemoWriteError));
    std::vector<char> chunk(kFileBuffer);
    for (;;) {
        if (beforeChunk && !beforeChunk())
            return Error(ErrorCode::Cancelled, cancelledText());
        const qint64 got = source.read(chunk.data(), qint64(chunk.size()));
        if (got < 0)
            return Error(ErrorCode::SourceUnreadable, sourceReadText());
        if (got == 0)
            break;
        if (std::fwrite(chunk.data(), 1, std::size_t(got), out.get()) != std::size_t(got))
            return writeFailed;
    }
    if (!finishFile(out.release()))
        return writeFailed;
    files_.memoPath_ = destination;
    return {};
}

Error OutputWriter::writeRecord(char* record, qint64 length)
{
    if (dbf_ && qint64(std::fwrite(record, 1, std::size_t(length), dbf_.get())) != length)
        return Error(ErrorCode::WriteFailed, generationText(kTextDbfWriteError));
    if (text_) {
        for (qint64 i = 1; i < length; ++i)
            if (record[i] == '\r' || record[i] == '\n')
                record[i] = ' ';
        qint64 written = qint64(std::fwrite(record + 1, 1, std::size_t(length - 1), text_.get()));
        written += qint64(std::fwrite(kLineEnd, 1, std::size_t(kLineEndLength), text_.get())) ? 1 : 0;
        if (written < length)
            return Error(ErrorCode::WriteFailed, generationText(kTextTxtWriteError));
    }
    return {};
}

Error OutputWriter::commit()
{
    // Any refusal removes the temporaries.
    auto refuse = [this](ErrorCode code, const QString& text) {
        discard();
        return Error(code, text);
    };
    if (dbf_ && !finishFile(dbf_.release()))
        return refuse(ErrorCode::WriteFailed, generationText(kTextDbfWriteError));
    if (text_ && !finishFile(text_.release()))
        return refuse(ErrorCode::WriteFailed, generationText(kTextTxtWriteError));
    // A run given up by another thread moves nothing into place.
    int expected = OutputFiles::Open;
    if (!files_.state_.compare_exchange_strong(expected, OutputFiles::Committing))
        return refuse(ErrorCode::Cancelled, generationText(kTextCannotWrite));
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
        if (!refusal.isEmpty())
            return refuse(ErrorCode::DestinationRefused, refusal);
    }
    if (!moveAllIntoPlace(moves))
        return refuse(ErrorCode::WriteFailed, generationText(kTextCannotWrite));
    files_.dbfCreated_ = false;
    files_.textCreated_ = false;
    files_.memoCreated_ = false;
    committed_ = true;
    files_.unlock();
    return {};
}

void OutputWriter::discard()
{
    dbf_.reset();
    text_.reset();
    files_.removeTemporaries();
    files_.unlock();
}

}  // namespace codiflux
