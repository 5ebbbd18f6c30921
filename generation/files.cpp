#include "generation/files.h"

#include "generation/texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace codiflux {

using namespace texts;

namespace {

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

}  // namespace

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

bool finishFile(std::FILE* f)
{
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
#ifndef Q_OS_WIN
    ok = ok && ::fsync(::fileno(f)) == 0;
#endif
    return std::fclose(f) == 0 && ok;
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

QStringList filesReadBy(const BaseFormat& format, const QString& sourcePath, const QString& copiedMemo)
{
    QStringList files = format.filesRead(sourcePath);
    if (!copiedMemo.isEmpty())
        files.append(copiedMemo);
    return files;
}

QString overwriteRefusal(const QString& destination, const BaseFormat& format, const QString& sourcePath,
                         const QString& copiedMemo)
{
    const QStringList read = filesReadBy(format, sourcePath, copiedMemo);
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

namespace {

namespace fs = std::filesystem;

// One move of moveAllIntoPlace, and how far it went.
struct MoveStep {
    fs::path temporary, destination, backup;
    bool existed = false;   // the destination was there before: its backup holds it
    bool detached = false;  // the backup was made by moving the destination away
    bool moved = false;
};

// Puts every destination back as it was, last step first.
void rollBack(std::vector<MoveStep>& steps)
{
    std::error_code ignored;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if (it->existed && (it->moved || it->detached))
            fs::rename(it->backup, it->destination, ignored);
        else if (it->moved)
            fs::remove(it->destination, ignored);
        else if (it->existed)
            fs::remove(it->backup, ignored);
    }
}

// Keeps the destination of `step` under a backup name when it exists: a hard
// link where the file system has them (the destination never goes missing),
// else moved away. The temporary takes the destination's mode. false when
// the destination is not a regular file or cannot be kept.
bool keepDestination(MoveStep& step, const QString& destination)
{
    std::error_code ec;
    const fs::file_status status = fs::status(step.destination, ec);
    if (ec || !fs::exists(status))
        return true;
    if (!fs::is_regular_file(status))  // only a regular file is ever replaced
        return false;
    fs::permissions(step.temporary, status.permissions(), ec);
    step.backup = fsPath(hiddenBeside(destination, ".old"));
    fs::create_hard_link(step.destination, step.backup, ec);
    if (ec) {
        fs::rename(step.destination, step.backup, ec);
        if (ec)
            return false;
        step.detached = true;
    }
    step.existed = true;
    return true;
}

}  // namespace

bool moveAllIntoPlace(const QList<PendingMove>& moves)
{
    std::vector<MoveStep> steps;
    steps.reserve(std::size_t(moves.size()));
    for (const PendingMove& move : moves)
        steps.push_back({fsPath(move.temporary), fsPath(move.destination), {}, false, false, false});

    // Every existing destination is kept first.
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!keepDestination(steps[i], moves.at(qsizetype(i)).destination)) {
            rollBack(steps);
            return false;
        }
    }
    for (MoveStep& step : steps) {
        std::error_code ec;
        fs::rename(step.temporary, step.destination, ec);
        if (ec) {
            rollBack(steps);
            return false;
        }
        step.moved = true;
    }
    for (const MoveStep& step : steps) {
        std::error_code ignored;
        if (step.existed)
            fs::remove(step.backup, ignored);
    }
    return true;
}

QString memoOutputPathFor(const QString& dbfPath, const QString& sourceMemo)
{
    const QFileInfo info(dbfPath);
    QString suffix = QFileInfo(sourceMemo).suffix().toLower();
    if (!info.suffix().isEmpty() && info.suffix() == info.suffix().toUpper())
        suffix = suffix.toUpper();
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.') + suffix;
}

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
    if (job.outputPath.isEmpty() || !job.format) {
        plan(QString(), QString());
        return;
    }
    const OutputPaths paths = job.format->filesWritten(job.outputPath, job.writeText);
    plan(paths.table, paths.text);
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

Error OutputFiles::lock()
{
    for (const QString& destination : destinations())
        if (Error error = lock(destination))
            return error;
    return {};
}

Error OutputFiles::lock(const QString& destination)
{
    const std::lock_guard<std::mutex> guard(locksMutex_);
    auto lockFile = std::make_unique<QLockFile>(lockPathFor(destination));
    // Held for the whole run, however long: only a lock whose process has
    // died is taken over.
    lockFile->setStaleLockTime(0);
    if (!lockFile->tryLock(0)) {
        // Held by another run: refused; a lock that cannot be made: not written.
        const bool held = lockFile->error() == QLockFile::LockFailedError;
        locks_.clear();
        if (!held)
            return Error(ErrorCode::WriteFailed, generationText(kTextCannotWrite));
        return Error(ErrorCode::DestinationRefused,
                     generationText(kTextLocked).arg(QDir::toNativeSeparators(destination)));
    }
    locks_.push_back(std::move(lockFile));
    return {};
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
}  // namespace codiflux
