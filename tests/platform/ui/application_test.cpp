#include "platform/ui/application.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>

namespace brimlet::platform::ui {
namespace {

TEST(Translations, MissingOrDamagedInstalledCataloguesFallBackToTheBuiltInOnes) {
    const QTemporaryDir installed;
    QFile damaged(installed.filePath("brimlet_de.qm"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write("not a catalogue") > 0);
    damaged.close();
    for (const QString& dir : {installed.filePath("missing"), QString(), installed.path()}) {
        QTranslator builtIn;
        ASSERT_TRUE(loadTranslations(builtIn, QLocale(QLocale::German, QLocale::Germany), dir));
        EXPECT_EQ(builtIn.translate("brimlet::ShelfView", "Quit"), "Beenden");
        EXPECT_EQ(builtIn.translate("BrimletApp", "Open Brimlet"), "Brimlet öffnen");
    }
    // A locale without a catalogue in either place gets none.
    QTranslator japanese;
    EXPECT_FALSE(loadTranslations(japanese, QLocale(QLocale::Japanese), installed.path()));
    // An installed program looks beside its own directory.
    EXPECT_EQ(
        QDir(QCoreApplication::applicationDirPath()).relativeFilePath(installedTranslationsDir()),
        "../share/brimlet/translations");
}

}  // namespace
}  // namespace brimlet::platform::ui
