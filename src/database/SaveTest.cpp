#include "database/SaveTest.h"

#include "database/RecordFile.h"

namespace kv {

TvsDBSave::TvsDBSave(const QString& testsFile, const QString& valuesFile, int lockWaitMs)
{
    // Always tests.dat before values.dat: two instances that lock in the same order cannot deadlock.
    m_tests = std::make_unique<RecordFile>(testsFile, TvsDBTestRec::kSize, lockWaitMs);
    m_values = std::make_unique<RecordFile>(valuesFile, TvsDBValueRec::kSize, lockWaitMs);
}

TvsDBSave::~TvsDBSave()
{
    if (!m_committed) {
        m_values->Rollback();
        m_tests->Rollback();
    }
}

void TvsDBSave::AppendTest(TvsDBTestRec& rec)
{
    m_tests->Append(rec.bytes.data());
}

void TvsDBSave::AppendValue(TvsDBValueRec& rec)
{
    m_values->Append(rec.bytes.data());
}

void TvsDBSave::Commit()
{
    m_tests->Sync();
    m_values->Sync();
    m_committed = true;
}

} // namespace kv
