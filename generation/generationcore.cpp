#include "generation/generationcore.h"

#include "bases/regularfile.h"
#include "bases/textbase.h"
#include "generation/csvgeneration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace codiflux {

namespace {

constexpr qint64 kMaxDbfLength = 65535;                         // header and record lengths are 16-bit fields
constexpr qsizetype kMaxDbfFields = (kMaxDbfLength - 33) / 32;  // the descriptors a 16-bit header length holds
constexpr std::size_t kFileBuffer = std::size_t(1) << 20;

#ifdef Q_OS_WIN
constexpr char kLineEnd[] = "\r\n";
#else
constexpr char kLineEnd[] = "\n";
#endif
constexpr qint64 kLineEndLength = qint64(sizeof(kLineEnd)) - 1;

const char kTextCannotOpenSource[] = QT_TRANSLATE_NOOP("BaseEncoder", "Impossible d'ouvrir la base d'origine.");
const char kTextCancelled[] = QT_TRANSLATE_NOOP("BaseEncoder", "Fabrication de la base encodée annulée.");
const char kTextOutOfMemory[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Mémoire insuffisante : l'opération en cours est abandonnée.");
const char kTextUnequal[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Les enregistrements du fichier source n'ont pas tous la même longueur.");
const char kTextCannotWrite[] = QT_TRANSLATE_NOOP("BaseEncoder", "La base encodée ne peut être écrite");
const char kTextDbfShort[] = QT_TRANSLATE_NOOP(
    "BaseEncoder", "Erreur de lecture de la base DBF à encoder. L'enregistrement n°%1 est trop court.");
const char kTextTextShort[] = QT_TRANSLATE_NOOP(
    "BaseEncoder", "Erreur de lecture de la base texte à encoder. L'enregistrement n°%1 est trop court.");
const char kTextEncodingError[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur en cours d'encodage à l'enregistrement %1 valeur à encoder:\n%2");
const char kTextDbfWriteError[] = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur d'écriture de la base encodée (DBF).");
const char kTextTxtWriteError[] = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur d'écriture de la base encodée (TXT).");
const char kTextMemoWriteError[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur d'écriture du fichier mémo de la base encodée.");
// Beyond the window's own texts: the checks that keep a run from writing a
// corrupt or cut base.
const char kTextSameFile[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Le fichier de destination doit être différent du fichier source.");
const char kTextSameOutputs[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La base encodée et sa forme texte auraient le même chemin : %1. Choisissez un "
                        "autre nom pour la base encodée.");
const char kTextSymbolTooLarge[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Le code de l'enregistrement n°%1 (%2 x %3) dépasse les dimensions fixées par "
                        "l'enregistrement d'exemple (%4 x %5). Choisissez une taille de datamatrix ou une "
                        "version de QR code fixe.");
const char kTextRecordTooLong[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "L'enregistrement de la base encodée ferait %1 octets : le format DBF en admet au "
                        "plus 65535. Choisissez un code plus petit ou une base aux enregistrements plus "
                        "courts.");
const char kTextHeaderTooLong[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "L'en-tête de la base encodée ferait %1 octets (%2 champs) : le format DBF en "
                        "admet au plus 65535.");
const char kTextFieldMismatch[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La description des champs de la base d'origine ne correspond pas à la table "
                        "ouverte (%1 champs lus, %2 attendus).");
const char kTextSourceRead[] = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur de lecture de la base d'origine.");
const char kTextRangeOutside[] = QT_TRANSLATE_NOOP("BaseEncoder",
                                                   "La plage sélectionnée (positions %1 à %2) dépasse la longueur des "
                                                   "enregistrements du fichier source (%3 caractères).");
const char kTextLongCodeField[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Attention : le champ du code fait %1 caractères. La plupart des lecteurs dBase "
                        "(LibreOffice notamment) ne lisent la longueur d'un champ que sur un octet et "
                        "coupent un champ de plus de %2 caractères. Choisissez un code plus petit "
                        "(taille de datamatrix, version de QR code, taille de module, sans caractère de "
                        "fin de ligne) ou utilisez la sortie texte (TXT).");
const char kTextBadFieldName[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Le nom du champ encodé est vide ou commence par un espace.");
const char kTextSameMemo[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Le fichier de destination doit être différent du fichier mémo de la base "
                        "d'origine (%1).");
const char kTextNotRegular[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "« %1 » n'est pas un fichier ordinaire : il ne sera pas remplacé.");
const char kTextReadOnly[] = QT_TRANSLATE_NOOP("BaseEncoder", "« %1 » est en lecture seule : il ne sera pas remplacé.");
const char kTextLocked[] = QT_TRANSLATE_NOOP("BaseEncoder",
                                             "« %1 » est déjà en cours d'écriture par une autre génération. Réessayez "
                                             "lorsqu'elle sera terminée.");
const char kTextDuplicateField[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La base d'origine a déjà un champ nommé « %1 » : choisissez un autre nom pour "
                        "le champ encodé.");
const char kTextNoSource[] = QT_TRANSLATE_NOOP("BaseEncoder", "Aucune base d'origine n'est chargée.");
const char kTextSourceGone[] = QT_TRANSLATE_NOOP("BaseEncoder", "La base d'origine « %1 » n'existe plus.");
const char kTextNoField[] = QT_TRANSLATE_NOOP("BaseEncoder", "Aucun champ à encoder n'est sélectionné.");
const char kTextNoDestination[] = QT_TRANSLATE_NOOP("BaseEncoder", "Aucun fichier de destination n'est indiqué.");

bool isWhite(unsigned char c)
{
    // QChar::isSpace over Latin-1
    return c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0;
}

qsizetype boundedLength(const char* value, qsizetype length)
{
    const void* nul = std::memchr(value, 0, std::size_t(length));
    return nul ? static_cast<const char*>(nul) - value : length;
}

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

QString canonicalTarget(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = info.absoluteDir().canonicalPath();
    if (folder.isEmpty())
        return QDir::cleanPath(info.absoluteFilePath());
    return folder + QLatin1Char('/') + info.fileName();
}

std::FILE* openExclusive(const QString& path)
{
    return std::fopen(QFile::encodeName(path).constData(), "wbx");
}

// A hidden name beside `destination`, unique to this call, ending in `suffix`.
QString hiddenBeside(const QString& destination, const char* suffix)
{
    if (destination.isEmpty())
        return {};
    const QFileInfo info(destination);
    return info.absolutePath() + QLatin1String("/.") + info.fileName() + QLatin1Char('.')
        + QString::number(QRandomGenerator::global()->generate64(), 16) + QLatin1String(suffix);
}

QString temporaryFor(const QString& destination)
{
    return hiddenBeside(destination, ".tmp");
}

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

bool finishFile(std::FILE* f)
{
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
#ifndef Q_OS_WIN
    ok = ok && ::fsync(::fileno(f)) == 0;
#endif
    return std::fclose(f) == 0 && ok;
}

}  // namespace

QString generationText(const char* text)
{
    return QCoreApplication::translate("BaseEncoder", text);
}

QString cancelledText()
{
    return generationText(kTextCancelled);
}

QString outOfMemoryText()
{
    return generationText(kTextOutOfMemory);
}

QString shortRecordText(int sourceKind, qint64 record)
{
    return generationText(sourceKind == BaseDbf ? kTextDbfShort : kTextTextShort).arg(record);
}

QString blankSampleText()
{
    return blankValueText();
}

QString sameFileText()
{
    return generationText(kTextSameFile);
}

QString cannotOpenSourceText()
{
    return generationText(kTextCannotOpenSource);
}

QString cannotWriteText()
{
    return generationText(kTextCannotWrite);
}

bool sameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
#ifndef Q_OS_WIN
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
    return canonicalTarget(a) == canonicalTarget(b);
}

QString longCodeFieldWarning(int fieldLength)
{
    if (fieldLength <= kDbfReaderFieldLimit)
        return {};
    return generationText(kTextLongCodeField).arg(fieldLength).arg(kDbfReaderFieldLimit);
}

QString textOutputPathFor(const QString& dbfPath)
{
    const QFileInfo info(dbfPath);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1String(".txt");
}

QStringList filesReadBy(int sourceKind, const QString& sourcePath)
{
    QStringList files{sourcePath};
    if (sourceKind == BaseDbf && !sourcePath.isEmpty())
        files.append(QFile::decodeName(QByteArray::fromStdString(dbf_memo_path(QFile::encodeName(sourcePath)))));
    return files;
}

QString overwriteRefusal(const QString& destination, int sourceKind, const QString& sourcePath)
{
    const QStringList read = filesReadBy(sourceKind, sourcePath);
    for (qsizetype i = 0; i < read.size(); ++i) {
        if (sameFile(destination, read.at(i)))
            return i == 0 ? generationText(kTextSameFile)
                          : generationText(kTextSameMemo).arg(QDir::toNativeSeparators(read.at(i)));
    }
    return {};
}

QString destinationRefusal(const QString& destination)
{
    const QFileInfo info(destination);
    if (!info.exists())
        return {};
    if (!info.isFile())
        return generationText(kTextNotRegular).arg(QDir::toNativeSeparators(destination));
    if (!(info.permissions() & QFileDevice::WriteOwner))
        return generationText(kTextReadOnly).arg(QDir::toNativeSeparators(destination));
    return {};
}

bool moveAllIntoPlace(const QList<PendingMove>& moves)
{
    namespace fs = std::filesystem;
    struct Step {
        fs::path temporary, destination, backup;
        bool existed = false;   // the destination was there before: its backup holds it
        bool detached = false;  // the backup was made by moving the destination away
        bool moved = false;
    };
    std::vector<Step> steps;
    steps.reserve(std::size_t(moves.size()));
    for (const PendingMove& move : moves)
        steps.push_back({fsPath(move.temporary), fsPath(move.destination), {}, false, false, false});

    auto rollBack = [&steps] {
        std::error_code ignored;
        for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
            if (it->existed && (it->moved || it->detached))
                fs::rename(it->backup, it->destination, ignored);
            else if (it->moved)
                fs::remove(it->destination, ignored);
            else if (it->existed)
                fs::remove(it->backup, ignored);
        }
    };

    // Every existing destination is kept first: a hard link where the file
    // system has them (the destination never goes missing), else moved away.
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Step& step = steps[i];
        std::error_code ec;
        const fs::file_status status = fs::status(step.destination, ec);
        if (ec || !fs::exists(status))
            continue;
        if (!fs::is_regular_file(status)) {  // only a regular file is ever replaced
            rollBack();
            return false;
        }
        fs::permissions(step.temporary, status.permissions(), ec);
        step.backup = fsPath(hiddenBeside(moves.at(qsizetype(i)).destination, ".old"));
        fs::create_hard_link(step.destination, step.backup, ec);
        if (ec) {
            fs::rename(step.destination, step.backup, ec);
            if (ec) {
                rollBack();
                return false;
            }
            step.detached = true;
        }
        step.existed = true;
    }
    for (Step& step : steps) {
        std::error_code ec;
        fs::rename(step.temporary, step.destination, ec);
        if (ec) {
            rollBack();
            return false;
        }
        step.moved = true;
    }
    for (const Step& step : steps) {
        std::error_code ignored;
        if (step.existed)
            fs::remove(step.backup, ignored);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Source reader

struct SourceReader::TextState {
    TextLineReader reader;
    QByteArray line;
};

// The memo texts of one field, read through the table engine as the window
// lists them.
struct SourceReader::MemoState {
    int fieldIndex = -1;
    qint64 slot = 0;
    int length = 0;
    DbfTablePtr table;
    unsigned next = 0;       // the record read() reads next
    std::vector<char> text;  // length + 1 bytes

    bool open(const QString& path)
    {
        // Read-only, OEM text converted: as the window and the command line open it.
        table.reset(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 0));
        next = 0;
        text.assign(std::size_t(length) + 1, '\0');
        return table != nullptr;
    }
    void read(char* out)
    {
        unsigned n = 0;
        if (dbf_goto_record(table.get(), next))
            n = dbf_read_field(table.get(), dbf_field(table.get(), unsigned(fieldIndex)), text.data(),
                               unsigned(length) + 1, DbfAnyType);
        ++next;
        n = std::min(n, unsigned(length));
        std::memcpy(out, text.data(), n);
        std::memset(out + n, ' ', std::size_t(length) - n);
    }
};

SourceReader::SourceReader() = default;
SourceReader::~SourceReader() = default;

void SourceReader::setMemoValue(int fieldIndex, qint64 slot, int length)
{
    memo_ = std::make_unique<MemoState>();
    memo_->fieldIndex = fieldIndex;
    memo_->slot = slot;
    memo_->length = std::max(0, length);
}

SourceScanStatus SourceReader::scanDbf(const QString& path)
{
    close();
    memo_.reset();
    layout_ = SourceLayout();
    layout_.kind = BaseDbf;
    path_ = path;
    std::unique_ptr<std::FILE, FileCloser> file(fopenRegular(QFile::encodeName(path).constData()));
    if (!file)
        return SourceScanStatus::OpenFailed;

    char block[32];
    if (std::fread(block, 1, 32, file.get()) != 32)
        return SourceScanStatus::ReadFailed;
    layout_.header = QByteArray(block, 32);
    layout_.version = static_cast<unsigned char>(block[0]);
    quint32 count = 0;
    for (int i = 3; i >= 0; --i)
        count = (count << 8) | static_cast<unsigned char>(block[4 + i]);
    const qint64 headerLength
        = qint64(static_cast<unsigned char>(block[8])) | (qint64(static_cast<unsigned char>(block[9])) << 8);

    qint64 offset = 1;
    while (layout_.fields.size() < kMaxDbfFields) {
        const std::size_t got = std::fread(block, 1, 32, file.get());
        if (got == 0 || static_cast<unsigned char>(block[0]) == 0x0D || got < 32)
            break;
        const char type = block[11];
        // Lengths are unsigned: a 'C' field of 32768 bytes or more is as valid as a shorter one.
        qint64 length = static_cast<unsigned char>(block[16]);
        if (type == 'C')
            length |= qint64(static_cast<unsigned char>(block[17])) << 8;
        if (length == 0)
            break;
        SourceField field;
        field.offset = offset;
        field.length = int(length);
        field.type = type;
        field.decimals = type == 'C' ? 0 : static_cast<unsigned char>(block[17]);
        field.name = QByteArray(block, int(boundedLength(block, 11)));
        layout_.fields.append(field);
        layout_.header.append(block, 32);
        offset += length;
    }
    layout_.recordLength = offset;

    qint64 size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        size = std::ftell(file.get());

    // The records start at the header length, as every reader of the table
    // finds them, when that length holds the descriptors and lies within the
    // file (a Visual FoxPro table's area after the terminator, a padded
    // header). Otherwise they are found by counting the descriptors.
    const qint64 terminator = 32 * (qint64(layout_.fields.size()) + 1);
    qint64 dataOffset = terminator + 1;
    if (headerLength >= terminator + 1 && headerLength <= size) {
        dataOffset = headerLength;
    } else {
        unsigned char after = 0xFF;
        if (std::fseek(file.get(), long(terminator + 1), SEEK_SET) == 0 && std::fread(&after, 1, 1, file.get()) == 1
            && after == 0x00)
            ++dataOffset;
        if (layout_.version == 0x30)
            dataOffset += 262;
    }
    layout_.dataOffset = dataOffset;

    // What the file holds bounds the count, so that a header that lies cannot
    // make a run endless; a count of 0 means "not stored". A header that
    // promises more records than there are keeps one beyond the file, whose
    // read then fails as too short.
    const qint64 held = size > dataOffset ? (size - dataOffset) / layout_.recordLength : 0;
    layout_.recordCount
        = count == 0 ? std::min<qint64>(held, std::numeric_limits<quint32>::max()) : std::min<qint64>(count, held + 1);
    return SourceScanStatus::Ok;
}

SourceScanStatus SourceReader::scanText(const QString& path, int rangeStart, int rangeCount,
                                        const std::function<bool()>& beforeLine)
{
    close();
    memo_.reset();
    layout_ = SourceLayout();
    layout_.kind = BaseText;
    path_ = path;
    const TextScanResult scan = scanTextBase(path, beforeLine);
    switch (scan.status) {
    case TextScanStatus::Ok:
        break;
    case TextScanStatus::OpenFailed:
        return SourceScanStatus::OpenFailed;
    case TextScanStatus::UnequalLengths:
        return SourceScanStatus::UnequalLengths;
    case TextScanStatus::Cancelled:
        return SourceScanStatus::Cancelled;
    case TextScanStatus::LineTooLong:
        tooLongLine_ = scan.tooLongLine;
        return SourceScanStatus::LineTooLong;
    default:
        return SourceScanStatus::ReadFailed;
    }
    layout_.recordCount = scan.recordCount;
    layout_.recordLength = qint64(scan.recordLength) + 1;
    SourceField field;
    field.offset = rangeStart;
    field.length = rangeCount;
    layout_.fields.append(field);
    return SourceScanStatus::Ok;
}

bool SourceReader::open()
{
    close();
    if (layout_.kind == BaseDbf) {
        dbf_.reset(fopenRegular(QFile::encodeName(path_).constData()));
        if (!dbf_)
            return false;
        std::setvbuf(dbf_.get(), nullptr, _IOFBF, kFileBuffer);
        if (std::fseek(dbf_.get(), long(layout_.dataOffset), SEEK_SET) != 0) {
            dbf_.reset();
            return false;
        }
        if (memo_ && !memo_->open(path_)) {
            dbf_.reset();
            return false;
        }
        return true;
    }
    if (layout_.kind == BaseText) {
        text_ = std::make_unique<TextState>();
        if (!text_->reader.open(path_)) {
            text_.reset();
            return false;
        }
        return true;
    }
    return false;
}

SourceReader::ReadStatus SourceReader::read(char* buffer)
{
    const qint64 k = layout_.recordLength;
    if (dbf_) {
        if (qint64(std::fread(buffer, 1, std::size_t(k), dbf_.get())) != k)
            return ReadStatus::Short;
        if (memo_)
            memo_->read(buffer + memo_->slot);
        return ReadStatus::Ok;
    }
    if (text_) {
        if (!text_->reader.next(text_->line) || text_->line.size() < k - 1)
            return ReadStatus::Short;
        buffer[0] = ' ';
        std::memcpy(buffer + 1, text_->line.constData(), std::size_t(k - 1));
        return ReadStatus::Ok;
    }
    return ReadStatus::Short;
}

void SourceReader::close()
{
    dbf_.reset();
    text_.reset();
    if (memo_)
        memo_->table.reset();
}

QString sourceMemoPath(const QString& dbfPath, const SourceLayout& layout)
{
    const bool memoField = std::any_of(layout.fields.cbegin(), layout.fields.cend(), [](const SourceField& f) {
        return f.type == 'M' || f.type == 'G' || f.type == 'B' || f.type == 'P';
    });
    if (!memoField)
        return {};
    const unsigned char v = layout.version;
    const bool foxPro = v == 0x30 || v == 0x31 || v == 0x32 || v == 0xF5;
    const QFileInfo info(dbfPath);
    const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.');
    const QString suffix = QLatin1String(foxPro ? "fpt" : "dbt");
    const bool upper = !info.suffix().isEmpty() && info.suffix() == info.suffix().toUpper();
    for (const QString& candidate : {upper ? suffix.toUpper() : suffix, suffix, suffix.toUpper()}) {
        const QFileInfo memo(stem + candidate);
        if (memo.isFile())
            return memo.filePath();
    }
    return {};
}

QString memoOutputPathFor(const QString& dbfPath, const QString& sourceMemo)
{
    const QFileInfo info(dbfPath);
    QString suffix = QFileInfo(sourceMemo).suffix().toLower();
    if (!info.suffix().isEmpty() && info.suffix() == info.suffix().toUpper())
        suffix = suffix.toUpper();
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.') + suffix;
}

// ---------------------------------------------------------------------------
// Record coder

bool isBlankValue(const char* value, qsizetype length)
{
    const qsizetype n = boundedLength(value, length);
    for (qsizetype i = 0; i < n; ++i)
        if (!isWhite(static_cast<unsigned char>(value[i])))
            return false;
    return true;
}

RecordCoder::RecordCoder(const EncodingParameters& parameters, const FontTextOptions& options, bool blankCodes,
                         int width, int height)
    : encoder_(parameters)
    , options_(options)
    , blankCodes_(blankCodes)
    , width_(width)
    , height_(height)
    , fieldLength_(codiflux::fieldLength(width, height, options.endOfLine))
{ }

int RecordCoder::inputLength(const char* value, int length) const
{
    return encoder_.inputLength(value, length);
}

RecordCoder::Result RecordCoder::code(const char* value, int length, char* out) const
{
    Result result;
    if (isBlankValue(value, length)) {
        if (blankCodes_)
            toFontText(ModuleGrid(), width_, height_, options_, true, out);
        else
            std::memset(out, ' ', std::size_t(fieldLength_));
        return result;
    }
    EncodedSymbol symbol;
    if (encoder_.encode(value, length, symbol)) {
        result.status = Status::EncodingFailed;
        return result;
    }
    result.symbolWidth = symbol.grid().width();
    result.symbolHeight = symbol.grid().height();
    if (result.symbolWidth > width_ || result.symbolHeight > height_) {
        result.status = Status::SymbolTooLarge;
        return result;
    }
    toFontText(symbol.grid(), width_, height_, options_, false, out);
    return result;
}

QString RecordCoder::failureText(const Result& result, qint64 record, const char* value, int length) const
{
    if (result.status == Status::SymbolTooLarge)
        return generationText(kTextSymbolTooLarge)
            .arg(QString::number(record), QString::number(result.symbolWidth), QString::number(result.symbolHeight),
                 QString::number(width_), QString::number(height_));
    return generationText(kTextEncodingError)
        .arg(QString::number(record), QString::fromLatin1(value, boundedLength(value, length)));
}

Error RecordCoder::measureSample(const EncodingParameters& parameters, const QByteArray& sample, int* width,
                                 int* height)
{
    EncodedSymbol symbol;
    if (Error error = Encoder(parameters).encode(sample, symbol))
        return error;
    *width = symbol.grid().width();
    *height = symbol.grid().height();
    return {};
}

int encodedValue(const ValueRule& rule, const char* stored, int length, char* out)
{
    length = std::max(0, length);
    int n = length;
    if (rule.kind == ValueKind::DbfField) {
        // The entry the window lists: the engine's text padded to the field's length.
        n = int(
            dbf_field_text(stored, unsigned(length), rule.fieldType, 0, rule.decimalPoint, out, unsigned(length) + 1));
        std::memset(out + n, ' ', std::size_t(length - n));
        n = length;
    } else if (out != stored) {
        std::memmove(out, stored, std::size_t(length));
    }
    int first = 0;
    if (rule.trimStart)
        while (first < n && isWhite(static_cast<unsigned char>(out[first])))
            ++first;
    if (rule.trimEnd)
        while (n > first && isWhite(static_cast<unsigned char>(out[n - 1])))
            --n;
    if (first > 0)
        std::memmove(out, out + first, std::size_t(n - first));
    n -= first;
    out[n] = '\0';
    return n;
}

QByteArray encodedValue(const ValueRule& rule, const QByteArray& stored)
{
    QByteArray value(stored.size() + 1, '\0');
    value.truncate(encodedValue(rule, stored.constData(), int(stored.size()), value.data()));
    return value;
}

RecordCoder::Result RecordPlan::encode(const RecordCoder& coder, char* buffer) const
{
    char tags[8] = {};
    if (tagsRule) {
        const char* source = buffer + sourceLength - 8;
        for (int i = 0; i < 8 && source[i] != 0; ++i)
            tags[i] = source[i];
    }
    char* valueText = buffer + valueSlot();
    const char* stored = value.kind == ValueKind::DbfMemo ? valueText : buffer + valueOffset;
    const int length = encodedValue(value, stored, valueLength, valueText);
    RecordCoder::Result result = coder.code(valueText, length, buffer + insertion);
    result.valueLength = length;
    if (result.ok() && tagsRule)
        std::memcpy(buffer + insertion + codeLength, tags, 8);
    return result;
}

QString RecordPlan::failureText(const RecordCoder& coder, const RecordCoder::Result& result, qint64 record,
                                const char* buffer) const
{
    return coder.failureText(result, record, buffer + valueSlot(), result.valueLength);
}

// ---------------------------------------------------------------------------
// Output writer

void OutputFiles::plan(const QString& dbfPath, const QString& textPath)
{
    dbfPath_ = dbfPath;
    textPath_ = textPath;
    dbfTemporary_ = temporaryFor(dbfPath);
    textTemporary_ = temporaryFor(textPath);
    memoPath_.clear();
    memoTemporary_ = temporaryFor(dbfPath);
    dbfCreated_ = false;
    textCreated_ = false;
    memoCreated_ = false;
    state_ = Open;
}

void OutputFiles::plan(const GenerationJob& job)
{
    if (job.outputPath.isEmpty())
        plan(QString(), QString());
    else if (job.typeSource == BaseText)
        plan(QString(), job.outputPath);
    else if (job.typeSource == BaseCsv)
        plan(job.outputPath, QString());  // the encoded CSV, written as it is built
    else
        plan(job.outputPath, job.writeText ? textOutputPathFor(job.outputPath) : QString());
}

OutputFiles::~OutputFiles()
{
    unlock();
}

QStringList OutputFiles::destinations() const
{
    QStringList paths;
    for (const QString* path : {&memoPath_, &dbfPath_, &textPath_})
        if (!path->isEmpty())
            paths.append(*path);
    return paths;
}

QString OutputFiles::lockPathFor(const QString& destination)
{
    // Beside the file itself, whatever path names it.
    const QFileInfo target(canonicalTarget(destination));
    return target.path() + QLatin1String("/.") + target.fileName() + QLatin1String(".lock");
}

bool OutputFiles::lock(QString* error)
{
    for (const QString& destination : destinations())
        if (!lock(destination, error))
            return false;
    return true;
}

bool OutputFiles::lock(const QString& destination, QString* error)
{
    const std::lock_guard<std::mutex> guard(locksMutex_);
    auto lockFile = std::make_unique<QLockFile>(lockPathFor(destination));
    // Held for the whole run, however long: only a lock whose process has
    // died is taken over.
    lockFile->setStaleLockTime(0);
    if (!lockFile->tryLock(0)) {
        if (error)
            *error = lockFile->error() == QLockFile::LockFailedError
                ? generationText(kTextLocked).arg(QDir::toNativeSeparators(destination))
                : generationText(kTextCannotWrite);
        locks_.clear();
        return false;
    }
    locks_.push_back(std::move(lockFile));
    return true;
}

void OutputFiles::unlock()
{
    // From the thread that gave a terminated worker up, the worker may have
    // been stopped while it held the mutex: its locks then stay.
    if (locksMutex_.try_lock()) {
        locks_.clear();
        locksMutex_.unlock();
    }
}

bool OutputFiles::withdraw()
{
    int expected = Open;
    if (!state_.compare_exchange_strong(expected, Withdrawn) && expected != Withdrawn)
        return false;
    removeTemporaries();
    unlock();
    return true;
}

void OutputFiles::removeTemporaries()
{
    if (dbfCreated_.exchange(false))
        QFile::remove(dbfTemporary_);
    if (textCreated_.exchange(false))
        QFile::remove(textTemporary_);
    if (memoCreated_.exchange(false))
        QFile::remove(memoTemporary_);
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
    if (!files_.lock(error))
        return false;
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
    if (!files_.lock(destination, error))
        return false;
    const QString refusal = destinationRefusal(destination);
    if (!refusal.isEmpty())
        return fail(refusal);
    QFile source(sourceMemo);
    if (!source.open(QIODevice::ReadOnly))
        return fail(generationText(kTextCannotOpenSource));
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
            return fail(generationText(kTextSourceRead));
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

// ---------------------------------------------------------------------------
// Set-up of a run

namespace {

// The values are those the window lists and previews: a DBF field as the
// table engine reads it, a memo's text rather than its block number, the
// spaces removed as the preview removes them.
ValueRule valueRuleFor(const GenerationJob& job, const SourceField& field)
{
    ValueRule rule;
    if (job.typeSource == BaseDbf) {
        rule.kind = field.type == 'M' ? ValueKind::DbfMemo : ValueKind::DbfField;
        rule.fieldType = field.type != 'C' && field.decimals != 0 ? 'F' : field.type;
        rule.decimalPoint = dbf_decimal_point();
    }
    rule.trimStart = job.trimStart;
    rule.trimEnd = job.trimEnd;
    return rule;
}

}  // namespace

RecordProgress::RecordProgress(GenerationFeedback& feedback, qint64 count)
    : feedback_(feedback)
    , count_(double(std::max<qint64>(count, 1)))
{
    feedback_.progressRange(0, 1000);
    feedback_.progressValue(0);
}

void RecordProgress::reached(qint64 number)
{
    const int value = int(double(number) * 1000.0 / count_);
    if (value != last_) {
        last_ = value;
        feedback_.progressValue(value);
    }
}

bool prepareGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer,
                       QString* error)
{
    if (job.typeSource == BaseCsv)
        return prepareCsvGeneration(job, feedback, run, writer, error);
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const EncodingParameters& parameters = job.parameters;
    if (feedback.cancelled())
        return fail(cancelledText());

    // Source layout and the length G of the sample.
    qsizetype sampleLength = 0;
    int slot = 0;
    if (job.typeSource == BaseDbf) {
        const SourceScanStatus status = run.reader.scanDbf(job.sourcePath);
        if (status == SourceScanStatus::OpenFailed)
            return fail(generationText(kTextCannotOpenSource));
        if (status != SourceScanStatus::Ok)
            return fail(generationText(kTextSourceRead));
        if (job.tableFieldCount == 0)
            return fail(generationText(kTextNoSource));
        if (!QFileInfo::exists(job.sourcePath))
            return fail(generationText(kTextSourceGone).arg(QDir::toNativeSeparators(job.sourcePath)));
        if (job.fieldIndex < 0 || unsigned(job.fieldIndex) >= job.tableFieldCount
            || job.fieldIndex >= job.fields.size())
            return fail(generationText(kTextNoField));
        // The offsets come from the descriptor scan, the count from the open
        // table; a header that says otherwise would be written corrupt.
        if (qsizetype(job.tableFieldCount) != run.reader.layout().fields.size())
            return fail(
                generationText(kTextFieldMismatch).arg(run.reader.layout().fields.size()).arg(job.tableFieldCount));
        slot = job.fieldIndex;
        sampleLength = std::max(0, job.fields.at(job.fieldIndex).length);
    } else if (job.typeSource == BaseText) {
        feedback.progressRange(0, 0);
        feedback.progressValue(0);
        const SourceScanStatus status
            = run.reader.scanText(job.sourcePath, job.rangeStart, job.rangeCount, [&feedback] {
                  feedback.liveness();
                  return !feedback.cancelled();
              });
        switch (status) {
        case SourceScanStatus::Ok:
            break;
        case SourceScanStatus::OpenFailed:
            return fail(generationText(kTextCannotOpenSource));
        case SourceScanStatus::UnequalLengths:
            return fail(generationText(kTextUnequal));
        case SourceScanStatus::Cancelled:
            return fail(cancelledText());
        case SourceScanStatus::ReadFailed:
            return fail(generationText(kTextSourceRead));
        case SourceScanStatus::LineTooLong:
            return fail(lineTooLongText(run.reader.tooLongLine()));
        }
        if (job.rangeStart >= 1 && job.rangeCount >= 1)
            sampleLength = job.rangeCount;
    } else {
        return fail(generationText(kTextNoSource));
    }
    const SourceLayout& layout = run.reader.layout();

    const SourceField& field = layout.fields.at(slot);
    const ValueRule rule = valueRuleFor(job, field);

    // Sample value. A DBF sample is the field's value as listed, padded to the
    // field length. Its symbol fixes the size of every code, so it is measured
    // as it will be encoded: the spaces removed as for every record.
    QByteArray sample = job.sample.left(sampleLength);
    if (job.typeSource == BaseDbf && sample.size() < sampleLength)
        sample.append(QByteArray(sampleLength - sample.size(), ' '));
    if (isBlankValue(sample.constData(), sample.size()))
        return fail(blankSampleText());
    ValueRule sampleRule;  // already the listed text: only the spaces go
    sampleRule.trimStart = rule.trimStart;
    sampleRule.trimEnd = rule.trimEnd;
    sample = encodedValue(sampleRule, sample);
    if (job.typeSource == BaseText && field.offset + field.length > layout.recordLength)
        return fail(generationText(kTextRangeOutside)
                        .arg(field.offset)
                        .arg(field.offset + field.length - 1)
                        .arg(layout.recordLength - 1));

    // Trial encoding: the sample's symbol fixes W x H for the whole run.
    int width = 0;
    int height = 0;
    if (const Error refused = RecordCoder::measureSample(parameters, sample, &width, &height))
        return fail(refused.text);
    run.width = width;
    run.height = height;
    run.coder.emplace(parameters, job.options, job.blankCodes, width, height);

    if (job.outputPath.isEmpty())
        return fail(generationText(kTextNoDestination));

    // The outputs must not be a file the run reads, nor one another.
    const OutputFiles& files = writer.files();
    for (const QString& destination : files.destinations()) {
        const QString refusal = overwriteRefusal(destination, job.typeSource, job.sourcePath);
        if (!refusal.isEmpty())
            return fail(refusal);
    }
    if (sameFile(files.dbfPath(), files.textPath()))
        return fail(generationText(kTextSameOutputs).arg(QDir::toNativeSeparators(files.textPath())));

    RecordPlan& plan = run.plan;
    plan.sourceLength = layout.recordLength;
    plan.codeLength = run.coder->fieldLength();
    plan.valueOffset = field.offset;
    plan.valueLength = field.length;
    plan.insertion = plan.sourceLength;
    plan.value = rule;
    if (rule.kind == ValueKind::DbfMemo)
        run.reader.setMemoValue(slot, plan.valueSlot(), plan.valueLength);
    run.recordCount = layout.recordCount;

    QByteArray header;
    QString sourceMemo;
    if (job.typeSource == BaseDbf) {
        sourceMemo = sourceMemoPath(job.sourcePath, layout);
        if (!sourceMemo.isEmpty()) {
            // The memo copied is read too, and its copy must not replace a file the run reads.
            const QString memoOutput = memoOutputPathFor(files.dbfPath(), sourceMemo);
            if (sameFile(memoOutput, sourceMemo))
                return fail(generationText(kTextSameFile));
            const QString refusal = overwriteRefusal(memoOutput, job.typeSource, job.sourcePath);
            if (!refusal.isEmpty())
                return fail(refusal);
            for (const QString& destination : files.destinations())
                if (sameFile(destination, sourceMemo))
                    return fail(generationText(kTextSameMemo).arg(QDir::toNativeSeparators(sourceMemo)));
        }
        const DbfFieldInfo& last = job.fields.last();
        plan.tagsRule = qstrncmp(last.name, "TAGS", sizeof last.name) == 0 && last.length == 8
            && layout.fields.last().length == 8;
        if (plan.tagsRule)
            plan.insertion = plan.sourceLength - 8;
        const QByteArray name = job.newFieldName.left(10).toLatin1();
        if (name.isEmpty() || static_cast<unsigned char>(name.at(0)) <= 0x20)
            return fail(generationText(kTextBadFieldName));
        // The name as written (cut at 10 bytes) must differ from every field
        // of the source, compared without regard to case as dBase does.
        for (const SourceField& existing : layout.fields)
            if (existing.name.compare(name, Qt::CaseInsensitive) == 0)
                return fail(generationText(kTextDuplicateField).arg(QString::fromLatin1(name)));
        QString headerError;
        header = buildEncodedHeader(layout, plan, run.recordCount, name, &headerError, !sourceMemo.isEmpty());
        if (header.isEmpty())
            return fail(headerError);
    }

    if (feedback.cancelled())
        return fail(cancelledText());
    if (!run.reader.open())
        return fail(generationText(kTextCannotOpenSource));
    QString openError;
    if (!writer.open(header, &openError)) {
        writer.discard();
        return fail(openError);
    }
    if (!sourceMemo.isEmpty()
        && !writer.copyMemo(
            sourceMemo, memoOutputPathFor(files.dbfPath(), sourceMemo),
            [&feedback] {
                feedback.liveness();
                return !feedback.cancelled();
            },
            &openError)) {
        writer.discard();
        return fail(openError);
    }
    return true;
}

bool runRecords(PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback, std::atomic<qint64>& current,
                QString* error)
{
    if (run.csv)
        return runCsvRecords(run, writer, feedback, current, error);
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const RecordPlan& plan = run.plan;
    const RecordCoder& coder = *run.coder;
    const qint64 count = run.recordCount;
    // One buffer, sized from the source: the record is lengthened in place.
    std::vector<char> record(std::size_t(plan.bufferLength()));

    RecordProgress progress(feedback, count);
    current = 1;
    for (qint64 number = 1; number <= count; number = ++current) {
        if (feedback.cancelled())
            return fail(cancelledText());
        progress.reached(number);
        feedback.liveness();
        if (run.reader.read(record.data()) != SourceReader::ReadStatus::Ok)
            return fail(shortRecordText(run.reader.layout().kind, number));
        const RecordCoder::Result result = plan.encode(coder, record.data());
        if (!result.ok())
            return fail(plan.failureText(coder, result, number, record.data()));
        if (!writer.writeRecord(record.data(), plan.outputLength(), error))
            return false;
    }
    return true;
}

}  // namespace codiflux
