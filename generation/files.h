#pragma once
// The files of a run: which files it reads, which destinations it may
// replace, the temporaries it writes and their locks, and the all-or-none
// move of the finished files into place.

#include "bases/error.h"
#include "generation/job.h"

#include <QList>
#include <QLockFile>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace codiflux {

// Size of the stdio buffers of the source and the outputs.
inline constexpr std::size_t kFileBuffer = std::size_t(1) << 20;

// Creates `path` for writing; none when it exists already.
std::FILE* openExclusive(const QString& path);
// Flushes, syncs and closes `f`; false when any of it failed.
bool finishFile(std::FILE* f);
// The canonical form of a path; one that does not exist yet is resolved
// through its folder.
QString canonicalTarget(const QString& path);

// True when both paths name the same file: same device and inode when both
// exist, otherwise the same canonical path (a path that does not exist yet is
// resolved through its folder). False when either path is empty.
bool sameFile(const QString& a, const QString& b);

// Every file a run on this source reads: those its format reads
// (BaseFormat::filesRead: a table's memo included) and the memo it copies,
// when one is given.
QStringList filesReadBy(const BaseFormat& format, const QString& sourcePath, const QString& copiedMemo = {});
// Why writing `destination` would destroy a file the run reads: the same file
// (sameFile), or one of the same folder whose name differs only in case (the
// memo is looked up in either case, and a base is often moved to a file
// system that ignores case). Empty when it would not.
QString overwriteRefusal(const QString& destination, const BaseFormat& format, const QString& sourcePath,
                         const QString& copiedMemo = {});
// Why an existing `destination` may not be replaced: it is not a regular
// file (directory, device, FIFO, socket) or its owner may not write it.
// Empty when it does not exist or may be replaced.
QString destinationRefusal(const QString& destination);

// A finished temporary file and the destination it replaces.
struct PendingMove {
    QString temporary;
    QString destination;
};
// Moves every temporary onto its destination, all or none: each destination
// that exists keeps its mode and is kept under a backup name until every move
// has succeeded. When one move fails, the files already moved are taken back
// and every destination is left as it was; false then.
bool moveAllIntoPlace(const QList<PendingMove>& moves);

// Where the memo of an encoded DBF goes: the DBF's folder and complete base
// name, the source memo's suffix in the case of the DBF's suffix.
QString memoOutputPathFor(const QString& dbfPath, const QString& sourceMemo);

// Destinations of one run and their temporary names, fixed before the run so
// that the thread that started a run can remove the temporaries of a worker it
// had to terminate.
class OutputFiles {
public:
    OutputFiles() = default;
    // dbfPath empty for a text source; textPath empty when no text is written.
    void plan(const QString& dbfPath, const QString& textPath);
    // From a job: the files its format writes (BaseFormat::filesWritten): a
    // DBF's outputPath (+ its text form when writeText), a text base's as the
    // text output, a CSV's rows written as they are given in the first slot.
    void plan(const GenerationJob& job);

    const QString& dbfPath() const { return dbfPath_; }
    const QString& textPath() const { return textPath_; }
    const QString& dbfTemporary() const { return dbfTemporary_; }
    const QString& textTemporary() const { return textTemporary_; }
    const QString& memoTemporary() const { return memoTemporary_; }  // for a DBF output
    // Every destination of the run planned so far (the memo's once it is copied).
    QStringList destinations() const;

    // Removes the temporaries that exist (created and not yet moved into
    // place). Safe from another thread once the worker has stopped.
    void removeTemporaries();
    // Gives the run up from another thread, even while its worker may still
    // be running: the temporaries are removed and a later commit moves
    // nothing into place. When the worker has already begun to move its
    // files into place, that commit goes on, nothing is removed and the
    // result is false.
    bool withdraw();

    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;
    ~OutputFiles();

    // Name of the lock file that keeps two runs from writing `destination` at once.
    static QString lockPathFor(const QString& destination);

private:
    friend class OutputWriter;
    // Takes the lock of every destination, or of the one given;
    // DestinationRefused when another run holds one of them, WriteFailed
    // when its lock cannot be made.
    Error lock();
    Error lock(const QString& destination);
    void unlock();

    QString dbfPath_, textPath_, dbfTemporary_, textTemporary_;
    QString memoPath_, memoTemporary_;  // memoPath_: set when a memo is copied
    std::mutex locksMutex_;
    std::vector<std::unique_ptr<QLockFile>> locks_;
    std::atomic<bool> dbfCreated_{false};
    std::atomic<bool> memoCreated_{false};
    std::atomic<bool> textCreated_{false};
    // Who has the last word on the files: the worker moving them into place,
    // or a thread giving the run up. Decided once, by a compare-and-swap.
    enum State : int { Open, Committing, Withdrawn };
    std::atomic<int> state_{Open};
};

}  // namespace codiflux
