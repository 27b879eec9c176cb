// Large blocks: every byte of a block is usable, blocks big enough for huge pages start on a huge
// page, and a vector over them keeps its contents as it grows past that size.

#include "core/platform/BulkMemory.h"

#include <QTest>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace kv;

class TestBulkMemory : public QObject
{
    Q_OBJECT

private slots:
    void everyByteIsUsable_data()
    {
        QTest::addColumn<qulonglong>("bytes");
        QTest::newRow("one byte") << 1ull;
        QTest::newRow("just under 2 MB") << qulonglong((2 << 20) - 1);
        QTest::newRow("2 MB") << qulonglong(2 << 20);
        QTest::newRow("5 MB and 3 bytes") << qulonglong((5 << 20) + 3);
    }
    void everyByteIsUsable()
    {
        QFETCH(qulonglong, bytes);
        // Two blocks at once, so one running into the other would show.
        auto* a = static_cast<unsigned char*>(AllocateBulk(bytes));
        auto* b = static_cast<unsigned char*>(AllocateBulk(bytes));
        QVERIFY(a && b);
        for (size_t i = 0; i < bytes; ++i) {
            a[i] = static_cast<unsigned char>(i * 7);
            b[i] = static_cast<unsigned char>(i * 13);
        }
        bool same = true;
        for (size_t i = 0; i < bytes && same; ++i)
            same = a[i] == static_cast<unsigned char>(i * 7) && b[i] == static_cast<unsigned char>(i * 13);
        QVERIFY(same);
        FreeBulk(a, bytes);
        FreeBulk(b, bytes);
    }

    void largeBlocksStartOnAHugePage()
    {
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
        QSKIP("under AddressSanitizer large blocks come from the ordinary heap");
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("under AddressSanitizer large blocks come from the ordinary heap");
#endif
        const size_t bytes = size_t(9) << 20;
        void* block = AllocateBulk(bytes);
        const auto address = reinterpret_cast<std::uintptr_t>(block);
        FreeBulk(block, bytes);
        QCOMPARE(address % (std::uintptr_t(2) << 20), std::uintptr_t(0));
    }

    void vectorGrowsAcrossTheThreshold()
    {
        std::vector<quint32, BulkAllocator<quint32>> v;
        const quint32 count = 3u << 20; // 12 MB at the end
        for (quint32 i = 0; i < count; ++i)
            v.push_back(i * 2654435761u);
        bool same = true;
        for (quint32 i = 0; i < count && same; ++i)
            same = v[i] == i * 2654435761u;
        QVERIFY(same);
    }
};

QTEST_GUILESS_MAIN(TestBulkMemory)
#include "test_bulk_memory.moc"
