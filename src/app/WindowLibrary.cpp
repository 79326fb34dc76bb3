// The program's side of the main window's library.
#include "WindowLibrary.h"

#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <memory>

Q_LOGGING_CATEGORY(lcWindowLibrary, "zhiwei.windowlibrary", QtWarningMsg)

namespace WindowLibrary {

namespace {

Entry entry = nullptr;

// Where the system's loader looks for a library the program itself asks for:
// the program's run path first ($ORIGIN made its folder), then the system's
// folders. Asked of the loader, not left to dlopen's own search, which
// follows the run path of whatever code calls it (a sanitizer's wrapper of
// dlopen, for one).
QStringList searchPath()
{
    void *program = ::dlopen(nullptr, RTLD_LAZY);
    Dl_serinfo size = {};
    if (!program || ::dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0)
        return {};
    const std::unique_ptr<Dl_serinfo, decltype(&std::free)> info(
        static_cast<Dl_serinfo *>(std::malloc(size.dls_size)), &std::free);
    QStringList folders;
    if (info && ::dlinfo(program, RTLD_DI_SERINFOSIZE, info.get()) == 0 &&
        ::dlinfo(program, RTLD_DI_SERINFO, info.get()) == 0) {
        for (unsigned int i = 0; i < info->dls_cnt; ++i)
            folders << QFile::decodeName(info->dls_serpath[i].dls_name);
    }
    return folders;
}

} // namespace

bool load()
{
    if (entry)
        return true;
    const QStringList folders = searchPath();
    for (const QString &folder : folders) {
        const QString path = folder + u'/' + QLatin1StringView(FileName);
        if (!QFileInfo::exists(path))
            continue;
        QLibrary library(path);
        library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        entry = reinterpret_cast<Entry>(library.resolve(EntryName));
        if (!entry)
            qCCritical(lcWindowLibrary, "%s", qPrintable(library.errorString()));
        return entry != nullptr;
    }
    qCCritical(lcWindowLibrary, "%s is in none of %s", FileName, qPrintable(folders.join(u", ")));
    return false;
}

QWidget *openMainWindow(const Endpoints &endpoints, const QString &appDir)
{
    return load() ? entry(endpoints, appDir) : nullptr;
}

} // namespace WindowLibrary
