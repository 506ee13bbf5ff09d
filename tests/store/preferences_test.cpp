#include "model/model_json.h"
#include "store/preferences.h"
#include "support/snapshot_fixtures.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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
    EXPECT_TRUE(p.activity().entries.empty());
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
    ASSERT_EQ(p.activity().entries.size(), 200u);
    EXPECT_EQ(p.activity().entries.front(), activityEntry(1));

    file->setValue("activity", "[{\"id\": 1}]");
    EXPECT_TRUE(p.activity().entries.empty());
    EXPECT_EQ(settings()->value("activity").toString(), "[{\"id\": 1}]");
    EXPECT_EQ(settings()->value("preferredOutput").toString(), "{\"uid\": 7}");
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
