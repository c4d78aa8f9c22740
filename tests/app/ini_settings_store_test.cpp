#include "app/ini_settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "console_on_desktop.h"
#include "qt_test_support.h"

namespace tertulia {
namespace {

TEST(IniSettingsStoreTest, company_code_is_kept_under_general_in_windows_1252) {
    EnsureApplication();
    QTemporaryDir directory;
    const QString file = directory.filePath(QStringLiteral("Tertulia.conf"));
    {
        auto store = IniSettingsStore::Open(file);
        EXPECT_EQ(store->Read("General", "IdEmpresa"), std::nullopt);
        store->Write("General", "IdEmpresa",
                     "Espa\xF1"
                     "a");
    }
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(written.readAll());
    EXPECT_TRUE(content.startsWith(QStringLiteral("[General]\n"))) << content.toStdString();
    EXPECT_TRUE(content.contains(QStringLiteral("IdEmpresa="))) << content.toStdString();

    EXPECT_EQ(IniSettingsStore::Open(file)->Read("General", "IdEmpresa"),
              "Espa\xF1"
              "a");
}

TEST(IniSettingsStoreTest, users_own_file_is_named_after_the_maker_and_the_program) {
    EnsureApplication();
    const IniSettingsStore store;
    EXPECT_TRUE(store.FileName().endsWith(QStringLiteral("/Grupo Laredo/Tertulia.ini")))
        << store.FileName().toStdString();
}

TEST(IniSettingsStoreTest, store_that_cannot_be_used_reports_it) {
    EnsureApplication();
    QTemporaryDir directory;
    const QString file = directory.filePath(QStringLiteral("Tertulia.conf"));

    // A directory where the file should be cannot be read or written, not even by root.
    ASSERT_TRUE(QDir().mkpath(file));
    EXPECT_THROW(IniSettingsStore::Open(file), std::runtime_error);

    const QString later = directory.filePath(QStringLiteral("later.conf"));
    auto store = IniSettingsStore::Open(later);
    ASSERT_TRUE(QDir().mkpath(later));
    EXPECT_THROW(store->Write("General", "IdEmpresa", "demo"), std::runtime_error);
}

TEST(IniSettingsStoreTest, console_comes_up_when_its_settings_cannot_be_opened) {
    EnsureApplication();
    QTemporaryDir directory;
    const QString file = directory.filePath(QStringLiteral("Tertulia.conf"));
    ASSERT_TRUE(QDir().mkpath(file));
    ConsoleOnDesktop desktop(file);
    ConsoleWindow& console = desktop.window;
    TfrmMain& frmMain = desktop.frmMain;

    const SeenBox seen = ReadModalBox([&] { frmMain.FormCreate(); }, QStringLiteral("OK"));
    EXPECT_EQ(seen.title, QStringLiteral("Tertulia"));
    EXPECT_TRUE(seen.text.startsWith(QStringLiteral("Cannot read the settings file")))
        << seen.text.toStdString();
    EXPECT_EQ(console.CompanyCode(), "");

    console.SetCompanyCode("demo");
    frmMain.FormDestroy();  // nothing to store into, and nothing more to report
    EXPECT_TRUE(QFileInfo(file).isDir());
}

}  // namespace
}  // namespace tertulia
