#include "core/interpretation/ModuleBridge.h"

#include "core/platform/Codec.h"

#include <cstring>
#include <limits>

namespace kv {

namespace {

// A memory stream bigger than this is a module gone wrong, not a document.
constexpr qint64 kMaxStreamSize = std::numeric_limits<int32_t>::max() / 2;

} // namespace

QString ModuleFileName()
{
    return QStringLiteral("libkvendarres.so");
}

ModuleResultList::ModuleResultList(const TvsValueTypeList& list)
{
    m_values.resize(static_cast<size_t>(list.Count()));
    m_groups.reserve(static_cast<size_t>(list.Count()));
    for (int g = 0; g < list.Count(); ++g) {
        const TvsValueTypeRec& group = list.Items(g);
        std::vector<KvResultValue>& values = m_values[static_cast<size_t>(g)];
        if (group.Values) {
            values.reserve(static_cast<size_t>(group.Values->Count()));
            for (int v = 0; v < group.Values->Count(); ++v) {
                const TvsValueRec& value = group.Values->Items(v);
                values.push_back({Text(value.Name), value.TypeNumber, Text(value.TypeName), value.Score});
            }
        }
        m_groups.push_back({group.Number, Text(group.Name), group.Score, values.empty() ? nullptr : values.data(),
                            static_cast<int32_t>(values.size())});
    }
    m_list.groups = m_groups.empty() ? nullptr : m_groups.data();
    m_list.count = static_cast<int32_t>(m_groups.size());
}

KvText ModuleResultList::Text(const QString& text)
{
    if (text.isEmpty())
        return {nullptr, 0};
    m_texts.push_back(ToCp1251(text));
    const QByteArray& bytes = m_texts.back();
    return {bytes.constData(), static_cast<int32_t>(bytes.size())};
}

ModuleExtra::ModuleExtra(const TvsConsistency& consistency, const TvsAnswerLog* answers)
{
    m_extra.size = sizeof(KvResultExtra);
    m_extra.version = KVENDARRES_EXTRA_VERSION;
    if (consistency.Valid) {
        m_extra.source = answers ? KVENDARRES_CONSISTENCY_FROM_ANSWERS : KVENDARRES_CONSISTENCY_FROM_SCORES;
        m_extra.n = consistency.N;
        m_extra.triads = consistency.Triads;
        m_extra.maxTriads = consistency.MaxTriads;
        m_extra.zeta = consistency.Zeta;
        m_extra.pRandom = consistency.PRandom;
        m_extra.pExact = consistency.PExact ? 1 : 0;
    }
    m_triads.reserve(consistency.Circular.size());
    for (const TvsTriad& t : consistency.Circular)
        m_triads.push_back({Text(t.A), Text(t.B), Text(t.C)});
    if (answers) {
        m_answers.reserve(answers->size());
        for (const TvsAnswer& a : *answers)
            m_answers.push_back(
                {a.Question, Text(a.Upper), a.UpperGroup, Text(a.Lower), a.LowerGroup, a.Chosen, a.ResponseMs});
    }
    m_extra.circularCount = static_cast<int32_t>(m_triads.size());
    m_extra.circular = m_triads.empty() ? nullptr : m_triads.data();
    m_extra.answerCount = static_cast<int32_t>(m_answers.size());
    m_extra.answers = m_answers.empty() ? nullptr : m_answers.data();
}

KvText ModuleExtra::Text(const QString& text)
{
    if (text.isEmpty())
        return {nullptr, 0};
    m_texts.push_back(ToCp1251(text));
    const QByteArray& bytes = m_texts.back();
    return {bytes.constData(), static_cast<int32_t>(bytes.size())};
}

ModuleStream::ModuleStream()
{
    m_stream.context = this;
    m_stream.write = &ModuleStream::Write;
    m_stream.read = &ModuleStream::Read;
    m_stream.seek = &ModuleStream::Seek;
    m_stream.size = &ModuleStream::Size;
}

QByteArrayView ModuleStream::fromPosition() const
{
    if (m_position >= m_bytes.size())
        return {};
    return QByteArrayView(m_bytes).sliced(m_position);
}

int32_t ModuleStream::Write(void* context, const void* data, int32_t size)
{
    auto* self = static_cast<ModuleStream*>(context);
    if (self == nullptr || data == nullptr || size <= 0 || self->m_position + size > kMaxStreamSize)
        return 0;
    try {
        const qint64 end = self->m_position + size;
        if (end > self->m_bytes.size())
            self->m_bytes.resize(end, '\0'); // a gap left by a seek past the end reads as zeros
        std::memcpy(self->m_bytes.data() + self->m_position, data, static_cast<size_t>(size));
        self->m_position = end;
        return size;
    } catch (...) {
        return 0;
    }
}

int32_t ModuleStream::Read(void* context, void* data, int32_t size)
{
    auto* self = static_cast<ModuleStream*>(context);
    if (self == nullptr || data == nullptr || size <= 0 || self->m_position >= self->m_bytes.size())
        return 0;
    const qint64 count = std::min<qint64>(size, self->m_bytes.size() - self->m_position);
    std::memcpy(data, self->m_bytes.constData() + self->m_position, static_cast<size_t>(count));
    self->m_position += count;
    return static_cast<int32_t>(count);
}

int64_t ModuleStream::Seek(void* context, int64_t offset, int32_t origin)
{
    auto* self = static_cast<ModuleStream*>(context);
    if (self == nullptr)
        return -1;
    qint64 base = 0;
    switch (origin) {
    case KVENDARRES_SEEK_SET:
        break;
    case KVENDARRES_SEEK_CUR:
        base = self->m_position;
        break;
    case KVENDARRES_SEEK_END:
        base = self->m_bytes.size();
        break;
    default:
        return -1;
    }
    if ((offset < 0 && -offset > base) || offset > kMaxStreamSize - base)
        return -1;
    self->m_position = base + offset;
    return self->m_position;
}

int64_t ModuleStream::Size(void* context)
{
    auto* self = static_cast<ModuleStream*>(context);
    return self == nullptr ? 0 : self->m_bytes.size();
}

} // namespace kv
