#include "core/platform/Library.h"

#include <QFile>

#include <dlfcn.h>

namespace kv {

bool Library::Open(const QString& firstDir, const QString& fileName, const QString& lastDir)
{
    Close();
    m_lastError.clear();
    if (!firstDir.isEmpty() && TryOpen(firstDir + fileName))
        return true;
    if (TryOpen(fileName))
        return true;
    return !lastDir.isEmpty() && TryOpen(lastDir + fileName);
}

bool Library::TryOpen(const QString& path)
{
    // RTLD_LOCAL keeps a module's symbols out of the program's namespace, so two opens of different
    // modules in one run never bind to each other's BuildResult.
    const QByteArray encoded = QFile::encodeName(path);
    m_handle = dlopen(encoded.constData(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* reason = dlerror();
        m_lastError = reason != nullptr ? QString::fromLocal8Bit(reason) : QString();
        return false;
    }
    return true;
}

void Library::Close()
{
    if (m_handle != nullptr) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

void* Library::Symbol(const char* name) const
{
    if (m_handle == nullptr)
        return nullptr;
    dlerror();
    return dlsym(m_handle, name);
}

} // namespace kv
