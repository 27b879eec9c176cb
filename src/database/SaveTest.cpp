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

void TvsDBSave::AppendTests(std::span<TvsDBTestRec> recs)
{
    if (!recs.empty())
        m_tests->Append(recs.front().bytes.data(), recs.size());
}

void TvsDBSave::AppendValues(std::span<TvsDBValueRec> recs)
{
    if (!recs.empty())
        m_values->Append(recs.front().bytes.data(), recs.size());
}

namespace {

// The record classes are their bytes alone, so a run of records read from a file is an array of them.
template <typename Rec> void ReadAs(const RecordFile& file, const std::function<void(std::span<const Rec>)>& block)
{
    file.ReadExisting([&](const char* records, size_t count) {
        block(std::span<const Rec>(reinterpret_cast<const Rec*>(records), count));
    });
}

} // namespace

void TvsDBSave::ReadTests(const std::function<void(std::span<const TvsDBTestRec>)>& block) const
{
    ReadAs<TvsDBTestRec>(*m_tests, block);
}

void TvsDBSave::ReadValues(const std::function<void(std::span<const TvsDBValueRec>)>& block) const
{
    ReadAs<TvsDBValueRec>(*m_values, block);
}

void TvsDBSave::Commit()
{
    m_tests->Sync();
    m_values->Sync();
    m_committed = true;
}

} // namespace kv
