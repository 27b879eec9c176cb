#pragma once

#include "core/platform/Errors.h"
#include "core/storage/uvsDataBase.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace kv {

// How a merge went: tests written into the target, and source tests left out because the target
// already held the same test.
struct MergeResult
{
    qint64 added = 0;
    qint64 skipped = 0;
};

// Told how far the merge is (done of total; total 0 while the amount is not known yet). Returning
// false cancels the merge, which then leaves the target as it was.
using MergeProgress = std::function<bool(qint64 done, qint64 total)>;

// A folder given to the merge that cannot be used at all (missing, no database, the same folder
// twice), as opposed to a merge that failed on the way.
class MergeFolderError final : public Error
{
public:
    using Error::Error;
};

// The merge was cancelled through its progress callback; nothing was written.
class MergeCancelled final : public Error
{
public:
    MergeCancelled();
};

// Adds every test of the data folder sourceDir, with its values, to the data folder targetDir, which
// is created when missing. The source is only read. The target is written as one save: all of the
// new tests land, or none (on any error, or a cancel, it is left byte for byte as it was). The new
// tests continue the target's numbering and their values follow them. A test the target already
// holds - the same name, the same date to the millisecond, the same group totals and the same values
// with the same wins - is skipped, so merging one source twice adds nothing the second time.
// Raises MergeFolderError, MergeCancelled or kv::Error, with a Russian message.
MergeResult MergeDataFolders(const QString& sourceDir, const QString& targetDir, const MergeProgress& progress = {},
                             int lockWaitMs = kLockWaitMs);

// "Добавлено тестов: N, пропущено повторов: M"
QString MergeReport(const MergeResult& result);

} // namespace kv
