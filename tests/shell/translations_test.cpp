#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>

#include "platform/ui/application.h"

namespace brimlet::platform::ui {
namespace {

// A German catalogue of our own, made with lrelease, that says "Quit" its
// own way, so that it can be told apart from the built-in one.
bool makeCatalogue(const QString& dir) {
    const QString ts = dir + "/test.ts";
    QFile file(ts);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(R"(<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context><name>brimlet::ShelfView</name>
<message><source>Quit</source><translation>Schluss</translation></message>
</context>
</TS>
)");
    file.close();
    QProcess lrelease;
    lrelease.start(BRIMLET_LRELEASE, {ts, "-qm", dir + "/brimlet_de.qm"});
    return lrelease.waitForFinished(30000) && lrelease.exitCode() == 0;
}

QString quitIn(const QTranslator& translator) {
    return translator.translate("brimlet::ShelfView", "Quit");
}

TEST(Translations, InstalledCataloguesComeBeforeTheBuiltInOnes) {
    const QLocale german(QLocale::German, QLocale::Germany);
    const QTemporaryDir installed;
    ASSERT_TRUE(makeCatalogue(installed.path()));

    QTranslator fromInstalled;
    ASSERT_TRUE(loadTranslations(fromInstalled, german, installed.path()));
    EXPECT_EQ(quitIn(fromInstalled), "Schluss");

    // Nothing installed for the locale, or nothing installed at all: built in.
    const QTemporaryDir empty;
    for (const QString& dir : {empty.path(), installed.filePath("missing"), QString()}) {
        QTranslator builtIn;
        ASSERT_TRUE(loadTranslations(builtIn, german, dir));
        EXPECT_EQ(quitIn(builtIn), "Beenden");
    }
    // A damaged file there does not hide the built-in one either.
    QFile damaged(empty.filePath("brimlet_de.qm"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a catalogue");
    damaged.close();
    QTranslator despiteDamage;
    ASSERT_TRUE(loadTranslations(despiteDamage, german, empty.path()));
    EXPECT_EQ(quitIn(despiteDamage), "Beenden");

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
