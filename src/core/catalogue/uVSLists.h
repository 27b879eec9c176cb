#pragma once

#include "core/platform/Errors.h"

#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

namespace kv {

// An ordered list that owns its records. Callers reach records by reference through Items and
// change them in place; Delete and Clear release them. Every index outside 0 .. Count - 1 raises
// ListIndexError before anything changes.
template <typename T> class TvsList
{
public:
    using Compare = std::function<int(const T&, const T&)>;

    TvsList() = default;
    TvsList(const TvsList&) = delete;
    TvsList& operator=(const TvsList&) = delete;
    virtual ~TvsList() = default;

    int Count() const { return static_cast<int>(m_items.size()); }

    T& Items(int index)
    {
        CheckIndex(index);
        return *m_items[static_cast<size_t>(index)];
    }
    const T& Items(int index) const
    {
        CheckIndex(index);
        return *m_items[static_cast<size_t>(index)];
    }

    // Appends a record the caller made and returns its 0-based index.
    int Append(std::unique_ptr<T> item)
    {
        Slot slot(item.release());
        m_items.push_back(std::move(slot));
        return Count() - 1;
    }

    // Releases the record at index and closes the gap: later records move down by one.
    void Delete(int index)
    {
        FreeItem(index);
        m_items.erase(m_items.begin() + index);
    }

    // Releases every record, in ascending order, and leaves the list empty.
    void Clear()
    {
        for (int i = 0; i < Count(); ++i)
            FreeItem(i);
        m_items.clear();
        m_items.shrink_to_fit();
    }

    // Sorts in place with the list's own quicksort. It is not stable, and the order it leaves equal
    // records in is part of what users see (ties in a ranking), so it must not be replaced by
    // std::sort. compare returns < 0 when a goes before b.
    void Sort(const Compare& compare)
    {
        if (Count() > 1)
            QuickSort(0, Count() - 1, compare);
    }

protected:
    // Appends a record that lives in storage the derived list owns and frees as a whole; the list
    // only forgets it on Delete and Clear. Such records must need no destructor.
    int AppendHeld(T* item)
    {
        static_assert(std::is_trivially_destructible_v<T>, "a held record is never destroyed");
        m_items.push_back(Slot(item, Release{false}));
        return Count() - 1;
    }

    // Room for count more records, so that appending many at once moves no slot twice.
    void ReserveMore(int count) { m_items.reserve(m_items.size() + static_cast<size_t>(count)); }

    // Releases the record at index without removing its slot; Clear and Delete empty the slot next.
    void FreeItem(int index)
    {
        CheckIndex(index);
        m_items[static_cast<size_t>(index)].reset();
    }

private:
    void CheckIndex(int index) const
    {
        if (index < 0 || index >= Count())
            throw ListIndexError(index);
    }

    void QuickSort(int left, int right, const Compare& compare)
    {
        int l = left;
        do {
            int i = l;
            int j = right;
            // The pivot is the record, not the slot: it stays the same even when a swap moves it.
            const T* pivot = m_items[static_cast<size_t>((l + right) / 2)].get();
            do {
                while (compare(*m_items[static_cast<size_t>(i)], *pivot) < 0)
                    ++i;
                while (compare(*m_items[static_cast<size_t>(j)], *pivot) > 0)
                    --j;
                if (i <= j) {
                    std::swap(m_items[static_cast<size_t>(i)], m_items[static_cast<size_t>(j)]);
                    ++i;
                    --j;
                }
            } while (i <= j);
            if (l < j)
                QuickSort(l, j, compare);
            l = i;
        } while (l < right);
    }

    struct Release
    {
        bool owned = true;
        void operator()(T* item) const
        {
            if (owned)
                delete item;
        }
    };
    using Slot = std::unique_ptr<T, Release>;

    std::vector<Slot> m_items;
};

} // namespace kv
