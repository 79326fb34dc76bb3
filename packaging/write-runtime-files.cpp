// zhiwei-runtime-files: writes the files the program keeps beside its
// executable into a folder, from the program's own embedded resources. The
// package ships them, so an installed program that may not write its folder
// still finds its skin there, byte for byte what it would have written.

#include "core/RuntimeFiles.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: zhiwei-runtime-files <folder>\n");
        return 2;
    }
    const QString folder = arguments.at(1);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "zhiwei-runtime-files: cannot create %s\n", qPrintable(folder));
        return 1;
    }

    const QList<bool> outcomes = RuntimeFiles::writeAll(folder);
    bool ok = true;
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        const RuntimeFile &file = RuntimeFiles::all().at(i);
        // An empty resource means the program was linked without its files:
        // shipping empty ones would hide that until a user saw no skin.
        if (RuntimeFiles::resource(file.resourceNumber).isEmpty()) {
            std::fprintf(stderr, "zhiwei-runtime-files: no resource :/CUSTOM/%d for %s\n",
                         file.resourceNumber, qPrintable(file.fileName));
            ok = false;
        } else if (!outcomes.at(i)) {
            std::fprintf(stderr, "zhiwei-runtime-files: cannot write %s\n",
                         qPrintable(QDir(folder).filePath(file.fileName)));
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
