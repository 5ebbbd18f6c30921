#pragma once
#include <QFile>
#include <QTemporaryDir>

namespace testsupport {

// Writes `bytes` to `path`, replacing what was there; false when any byte failed.
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The bytes of `path`, empty when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Files a test writes into a temporary folder of its own, numbered in order.
class TempFiles {
public:
    bool isValid() const { return dir_.isValid(); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    // A new file `base<N><suffix>` holding `bytes`; the test stops when it cannot be written.
    QString write(const QByteArray& bytes, const char* suffix)
    {
        const QString file = path(QStringLiteral("base%1").arg(++count_) + QLatin1String(suffix));
        if (!writeFile(file, bytes))
            qFatal("cannot write a test file");
        return file;
    }

private:
    QTemporaryDir dir_;
    int count_ = 0;
};

}  // namespace testsupport
