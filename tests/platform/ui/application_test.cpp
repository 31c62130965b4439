#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>

#include "platform/ui/application.h"

namespace brimlet::platform::ui {
namespace {

TEST(Translations, MissingOrDamagedInstalledCataloguesFallBackToTheBuiltInOnes) {
    const QLocale german(QLocale::German, QLocale::Germany);
    const QTemporaryDir installed;
    QFile damaged(installed.filePath("brimlet_de.qm"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a catalogue");
    damaged.close();
    for (const QString& dir : {installed.filePath("missing"), QString(), installed.path()}) {
        QTranslator builtIn;
        ASSERT_TRUE(loadTranslations(builtIn, german, dir));
        EXPECT_EQ(builtIn.translate("brimlet::ShelfView", "Quit"), "Beenden");
        EXPECT_EQ(builtIn.translate("BrimletApp", "Open Brimlet"), "Brimlet öffnen");
    }
    // A locale without a catalogue in either place gets none.
    QTranslator japanese;
    EXPECT_FALSE(loadTranslations(japanese, QLocale(QLocale::Japanese), installed.path()));
}

TEST(Translations, AnInstalledProgramLooksBesideItsOwnDirectory) {
    const QString dir = installedTranslationsDir();
    ASSERT_FALSE(dir.isEmpty());
    EXPECT_EQ(QDir(QCoreApplication::applicationDirPath()).relativeFilePath(dir),
              "../share/brimlet/translations");
}

}  // namespace
}  // namespace brimlet::platform::ui
