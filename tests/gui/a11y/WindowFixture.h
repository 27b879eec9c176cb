#pragma once

// What both the keyboard and the screen-reader tests open their windows over.
#include "core/catalogue/uvsValues.h"
#include "gui/platform/AppContext.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <memory>

namespace kvtest {

// A program folder with the shipped catalogue and settings kept in a folder of their own.
struct WindowFixture
{
    FakeDialogs dialogs;
    ExeDir exe;
    QTemporaryDir config;
    kv::AppContext context{exe.path(), dialogs};

    WindowFixture()
    {
        exe.copyShippedCatalogue();
        context.settingsFile = config.filePath(QStringLiteral("Orvanta/Kvendar.ini"));
    }
};

// The result list of a finished test of three values.
inline void FillResults(kv::TvsValueTypeList& result)
{
    kv::TvsValueTypeRec& group = result.Items(result.Add(QStringLiteral("Эмоциональные ценности"), QString()));
    group.Number = 3;
    group.Values = std::make_unique<kv::TvsValueList>();
    for (const QString& name : {QStringLiteral("Любовь"), QStringLiteral("Дружба"), QStringLiteral("Радость")})
        group.Values->Items(group.Values->Add(name, 3, group.Name)).Score = 1;
    group.Score = 3;
}

} // namespace kvtest
