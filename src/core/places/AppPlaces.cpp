#include "core/places/AppPlaces.h"

#include "core/catalogue/Catalogue.h"
#include "core/platform/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The build says where the install puts these, relative to the executable's folder.
#if !defined(KVENDAR_DATA_FROM_BIN) || !defined(KVENDAR_MODULE_FROM_BIN)
#error "KVENDAR_DATA_FROM_BIN and KVENDAR_MODULE_FROM_BIN must come from the build"
#endif

namespace kv {

namespace {

const QString kConfigName = QStringLiteral("config.ini");

QString WithSlash(QString dir)
{
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

QString WithoutSlash(QString dir)
{
    while (dir.size() > 1 && dir.endsWith(u'/'))
        dir.chop(1);
    return dir;
}

bool IsFileAt(const QString& path)
{
    return QFileInfo(path).isFile();
}

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString StorageError(const QString& folder, const QString& reason)
{
    return QStringLiteral("Не удаётся создать папку данных «%1»: %2. Каталог ценностей открыт только для чтения, "
                          "сохранить тест нельзя.")
        .arg(folder, reason);
}

// A configured name must stay inside the catalogue's folder, or the copy would reach outside it.
bool IsInsideFolder(const QString& name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return false;
    const QStringList parts = name.split(u'/');
    return !parts.contains(QStringLiteral(".."));
}

// Creates every missing level of dir. New levels are private: the folder will hold personal answers.
bool MakePath(const QString& dir, QString& reason)
{
    const QString clean = QDir::cleanPath(dir);
    QString path;
    for (const QString& part : clean.split(u'/')) {
        path += part + u'/';
        if (part.isEmpty())
            continue;
        const QByteArray native = QFile::encodeName(path);
        if (::mkdir(native.constData(), S_IRWXU) == 0 || errno == EEXIST) {
            struct stat st
            {
            };
            if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            reason = QStringLiteral("«%1» — не папка").arg(WithoutSlash(path));
            return false;
        }
        reason = ErrnoText(errno);
        return false;
    }
    return true;
}

void SyncFolder(const QString& dir)
{
    const QByteArray native = QFile::encodeName(dir);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool WriteNewFile(const QString& path, const QByteArray& bytes, QString& reason)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        reason = ErrnoText(errno);
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = ErrnoText(n < 0 ? errno : ENOSPC);
            ::close(fd);
            return false;
        }
        done += n;
    }
    // The catalogue must be whole on disk before its name appears in the user's folder.
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        reason = ErrnoText(errno);
        return false;
    }
    return true;
}

QString MakeTempFolder(const QString& pattern, QString& reason)
{
    QByteArray native = QFile::encodeName(pattern + QStringLiteral("XXXXXX"));
    if (::mkdtemp(native.data()) == nullptr) {
        reason = ErrnoText(errno);
        return QString();
    }
    return WithSlash(QFile::decodeName(native));
}

enum class CopyResult
{
    Done,
    ShippedBroken,
    CannotWrite,
    FolderAppeared
};

CopyResult CopyFiles(const QString& shippedDir, const QStringList& files, const QString& dir, QString& reason)
{
    for (const QString& name : files) {
        QFile source(shippedDir + name);
        if (!source.open(QIODevice::ReadOnly))
            return CopyResult::ShippedBroken;
        const QByteArray bytes = source.readAll();
        if (source.error() != QFileDevice::NoError)
            return CopyResult::ShippedBroken;
        const qsizetype slash = name.lastIndexOf(u'/');
        if (slash > 0 && !MakePath(dir + name.left(slash), reason))
            return CopyResult::CannotWrite;
        if (!WriteNewFile(dir + name, bytes, reason))
            return CopyResult::CannotWrite;
    }
    return CopyResult::Done;
}

// First start with no user folder yet: the whole catalogue appears at once by renaming a finished
// folder into place. Losing the rename to another instance is no failure: its copy is just as whole.
CopyResult CopyAsNewFolder(const QString& shippedDir, const QStringList& files, const QString& folder, QString& reason)
{
    const QString parent = QFileInfo(folder).path();
    const QString temp = MakeTempFolder(parent + QStringLiteral("/.kvendar-"), reason);
    if (temp.isEmpty())
        return CopyResult::CannotWrite;
    CopyResult result = CopyFiles(shippedDir, files, temp, reason);
    if (result == CopyResult::Done) {
        SyncFolder(temp);
        const QByteArray from = QFile::encodeName(WithoutSlash(temp));
        const QByteArray to = QFile::encodeName(folder);
        if (::rename(from.constData(), to.constData()) == 0) {
            SyncFolder(parent);
            return CopyResult::Done;
        }
        const int error = errno;
        result = (error == EEXIST || error == ENOTEMPTY) ? CopyResult::FolderAppeared : CopyResult::CannotWrite;
        reason = ErrnoText(error);
    }
    QDir(temp).removeRecursively();
    return result;
}

// The user's folder exists but holds no catalogue (it may hold Data already). Each file arrives
// whole under its name, none replaces a file that is there, and config.ini comes last because its
// presence is what marks the catalogue as complete.
CopyResult FillExistingFolder(const QString& shippedDir, const QStringList& files, const QString& folder,
                              QString& reason)
{
    const QString dir = WithSlash(folder);
    const QString temp = MakeTempFolder(dir + QStringLiteral(".catalogue-"), reason);
    if (temp.isEmpty())
        return CopyResult::CannotWrite;
    CopyResult result = CopyFiles(shippedDir, files, temp, reason);
    if (result == CopyResult::Done) {
        QStringList order = files.mid(1);
        order.append(files.first());
        for (const QString& name : order) {
            const qsizetype slash = name.lastIndexOf(u'/');
            if (slash > 0 && !MakePath(dir + name.left(slash), reason)) {
                result = CopyResult::CannotWrite;
                break;
            }
            const QByteArray from = QFile::encodeName(temp + name);
            const QByteArray to = QFile::encodeName(dir + name);
            if (::link(from.constData(), to.constData()) == 0)
                continue;
            int error = errno;
            if (error == EEXIST)
                continue;
            // A file system without hard links: a plain rename, still never over an existing file.
            if (!QFileInfo::exists(dir + name)) {
                if (::rename(from.constData(), to.constData()) == 0)
                    continue;
                error = errno;
            }
            reason = ErrnoText(error);
            result = CopyResult::CannotWrite;
            break;
        }
        SyncFolder(dir);
    }
    QDir(temp).removeRecursively();
    return result;
}

} // namespace

QString InstalledDataDir(const QString& exeDir)
{
    return WithSlash(QDir::cleanPath(exeDir + QStringLiteral(KVENDAR_DATA_FROM_BIN)));
}

QString InstalledModuleDir(const QString& exeDir)
{
    return WithSlash(QDir::cleanPath(exeDir + QStringLiteral(KVENDAR_MODULE_FROM_BIN)));
}

QString UserDataDir()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return WithSlash(base) + QStringLiteral("kvendar/");
}

QStringList CatalogueFiles(const QString& catalogueDir)
{
    if (!IsFileAt(catalogueDir + kConfigName))
        return {};
    const ProfileFile profile(catalogueDir + kConfigName);
    const QString missing = QString::fromUtf16(kMissingKey);
    const QString lines = profile.ReadString(QStringLiteral("MAIN"), QStringLiteral("Lines"), missing);
    if (lines == missing)
        return {};
    QStringList names{kConfigName, lines};
    for (int number = 1; number <= 4; ++number) {
        const QString name =
            profile.ReadString(QStringLiteral("ValueTypes"), QStringLiteral("ValueTypeName%1").arg(number), missing);
        if (name == missing)
            break;
        const QString items =
            profile.ReadString(QStringLiteral("ValueTypes"), QStringLiteral("ValueTypeItems%1").arg(number), missing);
        if (items == missing)
            break;
        names.append(items);
    }
    names.removeDuplicates();
    for (const QString& name : names)
        if (!IsInsideFolder(name) || !IsFileAt(catalogueDir + name))
            return {};
    return names;
}

AppPlaces DecideAppPlaces(const QString& exeDir, const QString& shippedDir, const QString& userDir)
{
    AppPlaces places;
    if (IsFileAt(exeDir + kConfigName)) {
        places.catalogueDir = exeDir;
        places.dataHome = exeDir;
        return places;
    }

    places.mode = AppPlaces::Mode::Installed;
    places.catalogueDir = userDir;
    places.dataHome = userDir;
    if (IsFileAt(userDir + kConfigName))
        return places;

    // From here on the run shows the shipped catalogue unless a whole copy lands in the user's folder.
    const QString folder = WithoutSlash(userDir);
    const auto readShipped = [&] {
        places.catalogueDir = shippedDir;
        places.catalogueReadOnly = true;
    };
    const auto fail = [&](const QString& reason) {
        readShipped();
        places.storageError = StorageError(folder, reason);
        return places;
    };

    QString reason;
    const QFileInfo existing(folder);
    if (existing.exists() && !existing.isDir())
        return fail(QStringLiteral("на её месте находится файл"));
    if (!MakePath(existing.path(), reason))
        return fail(reason);

    const QStringList files = CatalogueFiles(shippedDir);
    CopyResult result = CopyResult::ShippedBroken;
    if (!files.isEmpty()) {
        result = existing.exists() ? CopyResult::FolderAppeared : CopyAsNewFolder(shippedDir, files, folder, reason);
        if (result == CopyResult::FolderAppeared) {
            if (IsFileAt(userDir + kConfigName))
                return places;
            result = FillExistingFolder(shippedDir, files, folder, reason);
        }
    }
    switch (result) {
    case CopyResult::Done:
        return places;
    case CopyResult::CannotWrite:
    case CopyResult::FolderAppeared:
        return fail(reason);
    case CopyResult::ShippedBroken:
        break;
    }
    // Nothing was copied; the run meets the broken catalogue where it is shipped, and the next start
    // tries again. Saved tests still belong in the user's folder.
    readShipped();
    if (!MakePath(folder, reason))
        places.storageError = StorageError(folder, reason);
    return places;
}

QString DataDirForRun(const QString& exeDir, const QString& userDir)
{
    return (IsFileAt(exeDir + kConfigName) ? exeDir : userDir) + QStringLiteral("Data");
}

} // namespace kv
