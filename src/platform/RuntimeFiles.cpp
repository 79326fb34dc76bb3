#include "RuntimeFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace RuntimeFiles {

const QList<RuntimeFile> &all()
{
    // 122: the skin engine's library name. The engine is built into the
    //      program; the file only says so (nothing loads it).
    // 111: the skin the program attaches at start-up, read back from disk so a
    //      user may drop in another skin of the same format.
    // 126, 127: the common-controls and internet-transfer component names.
    //      Qt provides the status bar and the HTTP client; the files only say so.
    static const QList<RuntimeFile> files = {
        {122, QStringLiteral("SkinH_VB6.dll")},
        {111, QStringLiteral("skinh.she")},
        {126, QStringLiteral("MSCOMCTL.OCX")},
        {127, QStringLiteral("MSINET.OCX")},
    };
    return files;
}

QByteArray resource(int number)
{
    QFile file(QStringLiteral(":/CUSTOM/%1").arg(number));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

namespace {

// Reads at most one byte more than expected, so a huge stray file costs nothing.
bool alreadyHolds(const QString &path, const QByteArray &bytes)
{
    QFile existing(path);
    if (existing.size() != bytes.size() || !existing.open(QIODevice::ReadOnly))
        return false;
    return existing.read(bytes.size() + 1) == bytes;
}

} // namespace

bool writeFile(const QString &path, const QByteArray &bytes)
{
    // Rewriting identical bytes would only wear the disk.
    if (alreadyHolds(path, bytes))
        return true;

    // A temporary file beside the target, renamed over it: another copy of the
    // program reading the skin sees the old bytes or the new, never a mix, and
    // an older, longer file is replaced whole.
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    // Unbuffered, so a full disk fails the write itself: a buffered write
    // would only fail at commit's flush, which QSaveFile (Qt 6.4) does not
    // heed, and it would rename a cut-short file over the good one.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    // Left uncommitted, the temporary file is removed and the target kept.
    if (out.write(bytes) != bytes.size() || out.error() != QFileDevice::NoError)
        return false;
    return out.commit();
}

bool write(const QString &folder, const RuntimeFile &file)
{
    return writeFile(QDir(folder).filePath(file.fileName), resource(file.resourceNumber));
}

QList<bool> writeAll(const QString &folder)
{
    QList<bool> outcomes;
    outcomes.reserve(all().size());
    for (const RuntimeFile &file : all())
        outcomes.append(write(folder, file));
    return outcomes;
}

} // namespace RuntimeFiles
