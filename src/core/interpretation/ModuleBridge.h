#pragma once

#include "core/analysis/Consistency.h"
#include "core/catalogue/uvsValues.h"
#include "core/session/AnswerLog.h"

#include <kvendarres.h>

#include <QByteArray>

#include <deque>
#include <vector>

namespace kv {

// The file name the interpretation module is looked up by, in the executable's folder first.
QString ModuleFileName();

// A result list copied into the module's plain structs. The copy owns every byte the structs point
// to, so the module never sees a Qt object or the program's allocator, and the list itself cannot be
// changed through it.
class ModuleResultList final
{
public:
    explicit ModuleResultList(const TvsValueTypeList& list);
    ModuleResultList(const ModuleResultList&) = delete;
    ModuleResultList& operator=(const ModuleResultList&) = delete;

    const KvResultList* data() const { return &m_list; }

private:
    KvText Text(const QString& text);

    std::deque<QByteArray> m_texts; // a deque never moves its elements, so data pointers stay put
    std::vector<std::vector<KvResultValue>> m_values;
    std::vector<KvResultGroup> m_groups;
    KvResultList m_list{};
};

// The consistency and the answers in the module's plain structs, owning every byte they point to.
// answers is null for a test saved without its answers.
class ModuleExtra final
{
public:
    ModuleExtra(const TvsConsistency& consistency, const TvsAnswerLog* answers);
    ModuleExtra(const ModuleExtra&) = delete;
    ModuleExtra& operator=(const ModuleExtra&) = delete;

    const KvResultExtra* data() const { return &m_extra; }

private:
    KvText Text(const QString& text);

    std::deque<QByteArray> m_texts;
    std::vector<KvTriad> m_triads;
    std::vector<KvAnswer> m_answers;
    KvResultExtra m_extra{};
};

// The program's memory stream as the module sees it: a growable byte block with a position.
// Callbacks never throw; a write that cannot get memory writes nothing and returns 0.
class ModuleStream final
{
public:
    ModuleStream();
    ModuleStream(const ModuleStream&) = delete;
    ModuleStream& operator=(const ModuleStream&) = delete;

    KvStream* stream() { return &m_stream; }
    qint64 position() const { return m_position; }
    const QByteArray& bytes() const { return m_bytes; }
    // What a reader starting at the current position gets: nothing when the position is at or past the end.
    QByteArrayView fromPosition() const;

private:
    static int32_t Write(void* context, const void* data, int32_t size);
    static int32_t Read(void* context, void* data, int32_t size);
    static int64_t Seek(void* context, int64_t offset, int32_t origin);
    static int64_t Size(void* context);

    QByteArray m_bytes;
    qint64 m_position = 0;
    KvStream m_stream{};
};

} // namespace kv
