#include "bases/textbase.h"

#include "bases/regularfile.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace codiflux {

namespace {

constexpr qsizetype kInitialLineCapacity = 256;

}  // namespace

QString lineTooLongText(qint64 line)
{
    return QCoreApplication::translate("TextBase",
                                       "La ligne n°%1 de la base texte dépasse %2 caractères : un "
                                       "enregistrement en compte au plus %2.")
        .arg(line)
        .arg(kMaxTextRecordLength);
}

Error TextLineReader::open(const QString& path)
{
    close();
    file.setFileName(path);
    auto failed = [](const QString& text) { return Error(ErrorCode::SourceUnreadable, text); };
#ifndef Q_OS_WIN
    // Only a regular file: a FIFO would block the open, a device never end.
    const int fd = openRegularFile(QFile::encodeName(path).constData());
    if (fd < 0) {
        if (errno == ENODEV && !QFileInfo(path).isDir())
            return failed(QCoreApplication::translate("TextBase", "Ce n'est pas un fichier ordinaire."));
        // Missing, unreadable or a folder: the file's own text (opening it does not wait).
        const QString system = qt_error_string(errno);
        const bool opened = file.open(QIODevice::ReadOnly);
        const QString text = opened ? system : file.errorString();
        file.close();
        return failed(text);
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
#else
    if (!file.open(QIODevice::ReadOnly)) {
#endif
        return failed(file.errorString());
    }
    return {};
}

bool TextLineReader::next(QByteArray& line)
{
    if (!file.isOpen()) {
        line.resize(0);
        return false;
    }
    if (first) {
        first = false;
        if (file.peek(3) == QByteArrayLiteral("\xEF\xBB\xBF")) {
            file.skip(3);
            bom = true;
        }
    }

    // Read into the caller's buffer, growing it only for a longer line, so
    // that streaming a base does not allocate once per line.
    if (line.capacity() < kInitialLineCapacity)
        line.reserve(kInitialLineCapacity);
    line.resize(line.capacity());
    qsizetype length = 0;
    // Room for the longest record and its line end: a line that has not ended
    // by then is refused before more of it is read.
    constexpr qsizetype kMostRead = kMaxTextRecordLength + 2;
    for (;;) {
        if (line.size() - length < 2)
            line.resize(std::min(line.size() * 2, kMostRead + 1));
        const qint64 got = file.readLine(line.data() + length, std::min(line.size(), kMostRead + 1) - length);
        if (got <= 0) {
            if (file.error() != QFileDevice::NoError)
                readError = true;
            if (length == 0 || readError) {
                line.resize(0);
                return false;
            }
            break;
        }
        length += static_cast<qsizetype>(got);
        if (line.at(length - 1) == '\n' || file.atEnd() || length >= kMostRead)
            break;
    }
    ++lines;
    if (length > 0 && line.at(length - 1) == '\n') {
        --length;
        if (length > 0 && line.at(length - 1) == '\r')
            --length;
    }
    if (length > kMaxTextRecordLength) {
        tooLong = true;
        line.resize(0);
        return false;
    }
    line.resize(length);
    return true;
}

bool TextLineReader::atEnd() const
{
    return !file.isOpen() || file.atEnd();
}

void TextLineReader::close()
{
    if (file.isOpen())
        file.close();
    first = true;
    readError = false;
    tooLong = false;
    bom = false;
    lines = 0;
}

Error readTextBaseForDisplay(const QString& path, TextBaseDisplay& display, int maxLines)
{
    display.lines.clear();
    display.maxLineLength = 0;
    TextLineReader reader;
    if (Error error = reader.open(path))
        return error;
    QByteArray line;
    while (display.lines.size() < maxLines && reader.next(line)) {
        const qsizetype length = line.size();
        if (length > display.maxLineLength)
            display.maxLineLength
                = length > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(length);
        display.lines.append(QByteArray(line.constData(), line.size()));
    }
    if (reader.lineTooLong()) {
        display.lines.clear();
        display.maxLineLength = 0;
        return Error(ErrorCode::SourceMalformed, lineTooLongText(reader.lineNumber()));
    }
    return {};
}

}  // namespace codiflux
