// The program's side of the main window's library.
#include "WindowLibrary.h"

#include <QLoggingCategory>

#include <dlfcn.h>

Q_LOGGING_CATEGORY(lcWindowLibrary, "zhiwei.windowlibrary", QtWarningMsg)

namespace WindowLibrary {

namespace {

Entry entry = nullptr;

} // namespace

bool load()
{
    if (entry)
        return true;
    // From here, not through QLibrary: the search follows the run path of
    // the code that asks, and only the program's own names the library's
    // folder.
    void *library = ::dlopen(FileName, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        qCCritical(lcWindowLibrary, "%s", ::dlerror());
        return false;
    }
    entry = reinterpret_cast<Entry>(::dlsym(library, EntryName));
    if (!entry)
        qCCritical(lcWindowLibrary, "%s", ::dlerror());
    return entry != nullptr;
}

QWidget *openMainWindow(const Endpoints &endpoints, const QString &appDir)
{
    return load() ? entry(endpoints, appDir) : nullptr;
}

} // namespace WindowLibrary
