#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One of the files the program keeps beside its executable, and the number of
// the embedded resource (":/CUSTOM/<number>") that holds its bytes.
struct RuntimeFile
{
    int resourceNumber;
    QString fileName;
};

// The runtime files are written at every start, before the main window loads,
// so the program's folder has the layout it was shipped with: each file is
// made to hold its resource's bytes, except where writeFile refuses (a link,
// another user's file), and an identical file of ours is left as it is.
namespace RuntimeFiles {

// In the order they are written.
const QList<RuntimeFile> &all();

// The embedded bytes of ":/CUSTOM/<number>"; empty if there is no such resource.
QByteArray resource(int number);

// Makes folder/file.fileName hold exactly the resource's bytes. False when the
// folder or the file cannot be written; nothing is reported to the user.
bool write(const QString &folder, const RuntimeFile &file);

// Makes the file at path hold exactly bytes, replacing it whole in one step
// (a temporary file beside it, renamed into place) by a file of mode 0644;
// an identical file that only its owner may write is left untouched. False
// when it cannot be written. A symbolic link under the name, dangling or
// not, and a file of another user are never written through nor replaced:
// false.
bool writeFile(const QString &path, const QByteArray &bytes);

// The bytes of the regular file at path, at most maxBytes + 1 of them (so a
// caller can tell an oversized file); nullopt when it cannot be read, the
// name is a symbolic link or anything but a regular file (opening never
// blocks), the file belongs to neither the running user nor root, or
// anyone may write it.
std::optional<QByteArray> readFile(const QString &path, qint64 maxBytes);

// Writes every file in turn; one that fails does not stop the next.
// One outcome per file, in the order of all().
QList<bool> writeAll(const QString &folder);

} // namespace RuntimeFiles
