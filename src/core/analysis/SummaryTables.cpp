#include "core/analysis/SummaryTables.h"

#include "core/catalogue/uvsValues.h"
#include "core/platform/Plural.h"

#include <QLocale>

#include <cmath>

namespace kv {

namespace {

SummaryColumn Text(const char* name, const char16_t* header, const char16_t* label)
{
    return {name, QString::fromUtf16(header), QString::fromUtf16(label), SummaryColumnKind::Text, 0};
}

SummaryColumn Group(const char16_t* header)
{
    return {"group", QString::fromUtf16(header), QStringLiteral("Номер группы"), SummaryColumnKind::Group, 0};
}

SummaryColumn Count(const char* name, const char16_t* header, const char16_t* label)
{
    return {name, QString::fromUtf16(header), QString::fromUtf16(label), SummaryColumnKind::Count, 0};
}

SummaryColumn Decimal(const char* name, const char16_t* header, const char16_t* label, int decimals)
{
    return {name, QString::fromUtf16(header), QString::fromUtf16(label), SummaryColumnKind::Decimal, decimals};
}

// The cells of one row, each shown the way its column says.
class RowMaker
{
public:
    RowMaker(const SummaryTable& table, const TvsValueTypeList& groups) : m_table(table), m_groups(groups) {}

    std::vector<SummaryCell> operator()(std::initializer_list<SummaryCell> values) const
    {
        std::vector<SummaryCell> row(values);
        Q_ASSERT(row.size() == m_table.Columns.size());
        for (size_t c = 0; c < row.size(); ++c) {
            const SummaryColumn& column = m_table.Columns[c];
            SummaryCell& cell = row[c];
            if (column.Kind == SummaryColumnKind::Group)
                cell.Text = SummaryGroupName(m_groups, qint32(cell.Number));
            else if (column.Kind == SummaryColumnKind::Count)
                cell.Text = QString::number(qint64(cell.Number));
            else if (column.Kind == SummaryColumnKind::Decimal)
                cell.Text = SummaryNumberText(cell.Number, column.Decimals);
        }
        return row;
    }

private:
    const SummaryTable& m_table;
    const TvsValueTypeList& m_groups;
};

SummaryCell Name(const QString& text)
{
    return {text, 0};
}

SummaryCell Figure(double x)
{
    return {QString(), x};
}

SummaryTable GroupsTable(const TvsSummary& summary, const TvsValueTypeList& groups)
{
    SummaryTable table{"groups",
                       QStringLiteral("Группы"),
                       QStringLiteral("Группы"),
                       {Group(u"Группа"), Count("tests", u"Тестов", u"Тестов в долях"),
                        Decimal("mean_share", u"Средняя доля очков", u"Средняя доля очков", 3),
                        Decimal("ci_low", u"95% ДИ от", u"95% ДИ от", 3),
                        Decimal("ci_high", u"95% ДИ до", u"95% ДИ до", 3),
                        Count("led", u"Лидировала, тестов", u"Лидировала, тестов")},
                       {},
                       -1};
    if (summary.Tests == 0)
        return table;
    const RowMaker row(table, groups);
    for (const TvsGroupSummary& g : summary.Groups)
        table.Rows.push_back(row({Figure(g.Group), Figure(double(g.Tests)), Figure(g.MeanShare), Figure(g.CiLow),
                                  Figure(g.CiHigh), Figure(double(g.Led))}));
    return table;
}

SummaryTable ValuesTable(const TvsSummaryData& data, const TvsSummary& summary, const TvsValueTypeList& groups)
{
    SummaryTable table{"values",
                       QStringLiteral("Ценности"),
                       QStringLiteral("Ценности"),
                       {Text("value", u"Ценность", u"Ценность"), Group(u"Группа"),
                        Count("won", u"Побеждала, тестов", u"Побеждала, тестов"),
                        Count("chosen", u"Выбрана (по журналу), тестов", u"Выбрана по журналу, тестов"),
                        Decimal("mean_share", u"Средняя доля побед", u"Средняя доля побед", 3),
                        Decimal("mean_rank", u"Средний ранг", u"Средний ранг", 2),
                        Count("first", u"Первая, тестов", u"Первая, тестов")},
                       {},
                       4};
    const RowMaker row(table, groups);
    for (const TvsValueSummary& v : summary.Values) {
        const TvsSummaryValue& value = data.Values[v.Value];
        table.Rows.push_back(
            row({Name(value.Name), Figure(value.Group), Figure(double(v.Won)), Figure(double(v.Chosen)),
                 Figure(v.MeanShare), Figure(v.MeanRank), Figure(double(v.First))}));
    }
    return table;
}

SummaryTable ScaleTable(const TvsSummaryData& data, const TvsSummary& summary, const TvsValueTypeList& groups)
{
    SummaryTable table{"scale",
                       QStringLiteral("Шкала"),
                       QStringLiteral("Шкала Брэдли — Терри"),
                       {Text("value", u"Ценность", u"Ценность"), Group(u"Группа"),
                        Decimal("scale", u"Шкала", u"Логарифм силы, среднее 0", 3),
                        Decimal("se", u"Стандартная ошибка", u"Стандартная ошибка", 3),
                        Count("comparisons", u"Сравнений", u"Сравнений")},
                       {},
                       2};
    const TvsBradleyTerry& fit = summary.Scale;
    if (fit.State != TvsBradleyTerry::Status::Fitted)
        return table;
    const RowMaker row(table, groups);
    for (size_t i = 0; i < fit.Items.size(); ++i) {
        const TvsSummaryValue& value = data.Values[fit.Items[i]];
        table.Rows.push_back(row({Name(value.Name), Figure(value.Group), Figure(fit.Scale[i]), Figure(fit.StdError[i]),
                                  Figure(double(fit.Comparisons[i]))}));
    }
    return table;
}

} // namespace

SummaryTables BuildSummaryTables(const TvsSummaryData& data, const TvsSummary& summary, const TvsValueTypeList& groups)
{
    return {GroupsTable(summary, groups), ValuesTable(data, summary, groups), ScaleTable(data, summary, groups)};
}

QString SummaryNumberText(double x, int decimals)
{
    if (std::isnan(x))
        return QString();
    return QLocale(QLocale::Russian).toString(x, 'f', decimals);
}

QString SummaryGroupName(const TvsValueTypeList& groups, qint32 number)
{
    if (number >= 1 && number <= groups.Count())
        return groups.Items(number - 1).Name;
    return QStringLiteral("Группа %1").arg(number);
}

QString SummaryCountText(const TvsSummary& summary)
{
    if (summary.Tests == 0)
        return NoTestsText();
    QString text = QStringLiteral("Тестов: %1").arg(summary.Tests);
    if (summary.Undecidable > 0)
        text += QStringLiteral(", из них без полного числа сравнений (не учтены в долях): %1").arg(summary.Undecidable);
    return text + QStringLiteral(", с журналом ответов: %1").arg(summary.WithAnswers);
}

namespace {

// "2 не связанные части", "5 не связанных частей": after "распадаются на".
QString Parts(qint64 count)
{
    return QStringLiteral("%1 %2").arg(count).arg(RussianPlural(count, QStringLiteral("не связанную часть"),
                                                                QStringLiteral("не связанные части"),
                                                                QStringLiteral("не связанных частей")));
}

// "1 раза", "10 раз": after "не менее".
QString Times(qint64 count)
{
    return QStringLiteral("%1 %2").arg(count).arg(
        RussianPlural(count, QStringLiteral("раза"), QStringLiteral("раз"), QStringLiteral("раз")));
}

} // namespace

QString ScaleNote(const TvsSummary& summary, const TvsSummaryOptions& options)
{
    const TvsBradleyTerry& fit = summary.Scale;
    if (summary.WithAnswers == 0)
        return QStringLiteral("У отобранных тестов нет журналов ответов: шкалу строить не из чего.");
    switch (fit.State) {
    case TvsBradleyTerry::Status::Fitted:
        return QStringLiteral("Шкала Брэдли — Терри по всем ответам отобранных тестов: чем выше, тем чаще ценность "
                              "предпочитали другим. Среднее по ценностям равно 0; если у ценности A шкала a, а у B — "
                              "b, то модель ожидает выбор A в доле 1 / (1 + e^(b − a)) их сравнений. В шкалу входят "
                              "ценности, сравнивавшиеся не менее %1.")
            .arg(Times(options.MinComparisons));
    case TvsBradleyTerry::Status::Disconnected:
        return QStringLiteral("Шкалу построить нельзя: ответы распадаются на %1 (есть ценность, "
                              "которая всегда выигрывала или всегда проигрывала, или ценности, которые не "
                              "сравнивались с остальными ни прямо, ни через другие).")
            .arg(Parts(qint64(fit.Components.size())));
    case TvsBradleyTerry::Status::NoConvergence:
        return QStringLiteral("Шкалу построить не удалось: расчёт не сошёлся.");
    case TvsBradleyTerry::Status::TooFew:
        break;
    }
    return QStringLiteral("Слишком мало сравнений: в шкалу входят ценности, сравнивавшиеся не менее %1.")
        .arg(Times(options.MinComparisons));
}

QString ScaleNotBuiltText(const TvsSummary& summary)
{
    const TvsBradleyTerry& fit = summary.Scale;
    if (summary.Tests == 0 || fit.State == TvsBradleyTerry::Status::Fitted)
        return QString();
    const QString why = QStringLiteral("Шкала не построена: ");
    if (summary.WithAnswers == 0)
        return why + QStringLiteral("у отобранных тестов нет журналов ответов");
    switch (fit.State) {
    case TvsBradleyTerry::Status::Disconnected:
        return why + QStringLiteral("сравнения распадаются на %1").arg(Parts(qint64(fit.Components.size())));
    case TvsBradleyTerry::Status::NoConvergence:
        return why + QStringLiteral("расчёт не сошёлся");
    case TvsBradleyTerry::Status::Fitted:
    case TvsBradleyTerry::Status::TooFew:
        break;
    }
    return why + QStringLiteral("слишком мало сравнений");
}

QString ConsistencyNote(const TvsSummary& summary)
{
    const TvsConsistencySummary& c = summary.Consistency;
    if (!summary.HasConsistency)
        return QStringLiteral("Согласованность ответов не рассчитывается.");
    if (c.Tests == 0)
        return NoTestsText();
    return QStringLiteral("Коэффициент согласованности ζ по %1 %2; похожи на случайные ответы (p > 0,05): %3.")
        .arg(c.Tests)
        .arg(RussianPlural(c.Tests, QStringLiteral("тесту"), QStringLiteral("тестам"), QStringLiteral("тестам")))
        .arg(c.LikeRandom);
}

} // namespace kv
