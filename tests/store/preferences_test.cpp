#include "model/model_json.h"
#include "store/preferences.h"
#include "support/snapshot_fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace sonorel;
using namespace sonorel::fixtures;

namespace {

class preferences : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("sonorel-doctor.conf");

    // A fresh QSettings each time, as a later launch reads the file.
    std::unique_ptr<QSettings> settings() { return std::make_unique<QSettings>(path, QSettings::IniFormat); }
};

// Monitoring on, no preferred or confirmed output, no wake seen.
void expectDefaults(const Preferences& p)
{
    EXPECT_TRUE(p.monitoring());
    EXPECT_EQ(p.preferredOutput(), std::nullopt);
    EXPECT_EQ(p.lastWorkingOutput(), std::nullopt);
    EXPECT_EQ(p.lastWake(), std::nullopt);
}

TEST_F(preferences, a_fresh_install_has_the_defaults_and_an_empty_log)
{
    const auto file = settings();
    const Preferences p(*file);
    expectDefaults(p);
    EXPECT_EQ(p.activity(), ActivityLog{});
}

TEST_F(preferences, what_is_written_reads_back_in_a_later_launch_and_clearing_the_output_removes_its_key)
{
    const PreferredOutput headphones{"bluez_output.AC_80_0A_12_34_56.1", "WH-1000XM4, \"Studio\"", true};
    ActivityLog log;
    log.add(activityEntry(1));
    log.add(activityEntry(2));
    {
        const auto file = settings();
        Preferences p(*file);
        p.setMonitoring(false);
        p.setPreferredOutput(headphones);
        p.setLastWorkingOutput(headphones);
        p.setLastWake(at(786902400.5));
        p.setActivity(log);
    }
    {
        const auto file = settings();
        Preferences p(*file);
        EXPECT_FALSE(p.monitoring());
        EXPECT_EQ(p.preferredOutput(), headphones);
        EXPECT_EQ(p.lastWorkingOutput(), headphones);
        EXPECT_EQ(p.lastWake(), at(786902400.5));
        EXPECT_EQ(p.activity(), log);
        p.setPreferredOutput(std::nullopt);
    }
    EXPECT_FALSE(settings()->contains("preferredOutput"));
}

TEST_F(preferences, corrupt_values_read_as_their_defaults_and_stay_untouched)
{
    ActivityLog full;
    for (int n = 1; n <= 250; ++n)
        full.entries.push_back(activityEntry(n));
    {
        const auto file = settings();
        file->setValue("monitoring", "yes");
        file->setValue("preferredOutput", "{\"uid\": 7}");
        file->setValue("lastWorkingOutput", "not json");
        file->setValue("lastWake", "yesterday");
        file->setValue("activity", QString::fromStdString(encodeActivityLog(full)));
    }
    const auto file = settings();
    const Preferences p(*file);
    expectDefaults(p);
    // Only the first 200 entries of an over-long log are kept.
    ASSERT_EQ(p.activity()->entries.size(), 200u);
    EXPECT_EQ(p.activity()->entries.front(), activityEntry(1));

    // A log that is no list of entries reads as none, so that nobody writes over it.
    file->setValue("activity", "{\"entries\": []}");
    EXPECT_EQ(p.activity(), std::nullopt);
    EXPECT_EQ(settings()->value("activity").toString(), "{\"entries\": []}");
    EXPECT_EQ(settings()->value("preferredOutput").toString(), "{\"uid\": 7}");
}

TEST_F(preferences, a_log_that_cannot_be_written_says_so_and_is_saved_once_the_folder_is_back)
{
    // A file where the folder should be: no account, root included, can write there.
    ASSERT_TRUE(QFile(dir.filePath("config")).open(QIODevice::WriteOnly));
    QSettings file(dir.filePath("config/sonorel-doctor.conf"), QSettings::IniFormat);
    Preferences p(file);
    ActivityLog log;
    log.add(activityEntry(1));
    EXPECT_FALSE(p.setActivity(log));
    EXPECT_FALSE(p.clearActivity());

    ASSERT_TRUE(QFile::remove(dir.filePath("config")) && QDir(dir.path()).mkdir("config"));
    log.add(activityEntry(2));
    EXPECT_TRUE(p.setActivity(log));
    QFile written(file.fileName());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    EXPECT_TRUE(bytes.contains("Entry 1") && bytes.contains("Entry 2"));
}

TEST_F(preferences, a_settings_file_that_is_no_regular_file_or_over_8_mib_is_neither_read_nor_written)
{
    const QString fifo = dir.filePath("fifo.conf"), folder = dir.filePath("folder.conf"),
                  huge = dir.filePath("huge.conf"), ordinary = dir.filePath("ordinary.conf");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.conf"));
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nmonitoring=false\n");
        ASSERT_TRUE(file.resize(maximumSettingsSize + 1));
        QSettings(ordinary, QSettings::IniFormat).setValue("monitoring", false);
    }
    const struct {
        QString path;
        std::optional<std::string> refusal;
    } rows[] = {
        // A FIFO would block the reader until someone writes to it.
        {fifo, "The settings file " + fifo.toStdString() + " is not a regular file"},
        {folder, "The settings file " + folder.toStdString() + " is not a regular file"},
        // Anything larger would stall the window for seconds.
        {huge, "The settings file " + huge.toStdString() + " is over 8 MiB"},
        {ordinary, std::nullopt},
    };
    for (const auto& row : rows) {
        const auto settings = settingsAt(row.path);
        EXPECT_EQ(settingsRefusal(*settings), row.refusal) << row.path.toStdString();
        Preferences p(*settings);
        EXPECT_EQ(p.monitoring(), row.refusal.has_value()) << "read only from a file it may read";
        EXPECT_EQ(p.setActivity(ActivityLog{}), !row.refusal);
    }
    EXPECT_EQ(QFileInfo(huge).size(), maximumSettingsSize + 1);
    EXPECT_FALSE(QFileInfo(fifo).isFile());
}

}  // namespace

TEST(throw_away_settings, each_run_starts_empty_and_leaves_nothing_behind)
{
    QString file;
    {
        const auto first = throwAwaySettings();
        ASSERT_TRUE(first);
        Preferences(*first).setMonitoring(false);
        first->sync();
        file = first->fileName();
        EXPECT_TRUE(QFile::exists(file));
        const auto second = throwAwaySettings();
        ASSERT_TRUE(second);
        EXPECT_NE(second->fileName(), file);
        expectDefaults(Preferences(*second));
    }
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(file).path()));
}
