#include "core/session/MailText.h"

#include <QUrl>

namespace kv {

QStringList BuildMailLines(const TvsQuestionnaire& answers, const TvsValueTypeList& resultList)
{
    const auto line = [&answers](TvsQuestion q) { return Question(q).MailLabel + QStringLiteral(": ") + answers[q]; };
    using Q = TvsQuestion;
    QStringList lines = {
        QStringLiteral("ФИО: ") + answers.Fio,
        QStringLiteral("Возраст: ") + answers.Age,
        SexQuestion().MailLabel + QStringLiteral(": ") + answers.Sex,
        QString(),
        line(Q::Social),
        line(Q::Children),
        line(Q::PlaceOfLiving),
        line(Q::Education),
        QString(),
        line(Q::SocialStatus),
        line(Q::Bussines),
        line(Q::MaterialLevel),
        QString(),
        QStringLiteral("Выбранные ценности:"),
        QString(),
    };
    for (int g = 0; g < resultList.Count(); ++g) {
        const TvsValueTypeRec& group = resultList.Items(g);
        lines << group.Name + QStringLiteral(": ") + QString::number(group.Score);
        if (group.Values)
            for (int v = 0; v < group.Values->Count(); ++v) {
                const TvsValueRec& value = group.Values->Items(v);
                lines << QStringLiteral("    ") + value.Name + QStringLiteral(": ") + QString::number(value.Score);
            }
        lines << QString();
    }
    return lines;
}

QByteArray BuildMailtoUrl(const QString& recipient, const QString& subject, const QStringList& lines)
{
    // The address keeps its "@": RFC 6068 allows it unencoded in the addr-spec.
    QByteArray url = "mailto:" + QUrl::toPercentEncoding(recipient, "@");
    url += "?subject=" + QUrl::toPercentEncoding(subject);
    url += "&body=";
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            url += "%0D%0A";
        url += QUrl::toPercentEncoding(lines[i]);
    }
    return url;
}

bool IsAgeCharAccepted(QChar c)
{
    return (c >= u'0' && c <= u'9') || c == QChar(8);
}

} // namespace kv
