#include "store/desktop_services.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

using namespace sonorel;

namespace {

TEST(desktop_exec_value, quotes_and_escapes_as_desktop_entries_ask)
{
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
    } rows[] = {
        // Nothing reserved: as it is.
        {{"/usr/bin/sonorel-doctor", "--background"}, "/usr/bin/sonorel-doctor --background"},
        // A space: the argument in double quotes.
        {{"/opt/Sonorel Doctor/sonorel-doctor", "--background"}, R"("/opt/Sonorel Doctor/sonorel-doctor" --background)"},
        // A percent sign would start a field code: doubled, quoted or not.
        {{"/opt/100%/sonorel-doctor"}, "/opt/100%%/sonorel-doctor"},
        {{"/opt/a b/100%"}, R"("/opt/a b/100%%")"},
        // Inside quotes `"`, backtick, `$` and `\` take a backslash, and every backslash is then
        // escaped again as the string value's own escape.
        {{R"(/x/"q" `c` $v \b)"}, R"("/x/\\"q\\" \\`c\\` \\$v \\\\b")"},
        {{"/x/new\nline"}, R"("/x/new\nline")"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(desktopExecValue(row.arguments), row.expected) << row.expected;
}

class launch_at_login : public ::testing::Test {
protected:
    QTemporaryDir dir;
    LaunchAtLogin login{dir.path().toStdString()};
    std::filesystem::path entry = std::filesystem::path(dir.path().toStdString()) / "autostart/sonorel-doctor.desktop";

    void SetUp() override { std::filesystem::create_directories(entry.parent_path()); }
    void write(const std::string& text) { std::ofstream(entry) << text; }
};

TEST_F(launch_at_login, is_on_only_for_our_own_entry_neither_hidden_nor_switched_off)
{
    const std::string ours = "[Desktop Entry]\nType=Application\nExec=/usr/bin/sonorel-doctor --background\n";
    const struct {
        std::string text;
        bool enabled;
    } rows[] = {
        {ours, true},
        {ours + "Hidden=true\n", false},
        {ours + "Hidden = true\n", false},
        {ours + "X-GNOME-Autostart-enabled=false\n", false},
        // Keys of another group are not the entry's.
        {ours + "[Desktop Action Quit]\nHidden=true\n", true},
        // Any other readable file is not an entry that starts us.
        {"hello\n", false},
        {"[Desktop Entry]\nType=Link\nURL=https://example.org\n", false},
    };
    for (const auto& row : rows) {
        write(row.text);
        EXPECT_EQ(login.isEnabled(), row.enabled) << row.text;
    }
}

TEST_F(launch_at_login, reads_and_writes_the_entry_itself_never_through_a_link)
{
    const auto elsewhere = std::filesystem::path(dir.path().toStdString()) / "elsewhere.desktop";
    std::ofstream(elsewhere) << "[Desktop Entry]\nType=Application\nExec=/usr/bin/sonorel-doctor\n";
    std::filesystem::create_symlink(elsewhere, entry);
    EXPECT_FALSE(login.isEnabled());

    // A dangling link: the entry takes its place and the link's target is never made.
    std::filesystem::remove(elsewhere);
    ASSERT_TRUE(login.setEnabled(true, "/opt/Sonorel Doctor/sonorel-doctor"));
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(entry)));
    EXPECT_TRUE(login.isEnabled());
    std::stringstream text;
    text << std::ifstream(entry).rdbuf();
    EXPECT_NE(text.str().find("\nExec=\"/opt/Sonorel Doctor/sonorel-doctor\" --background\n"), std::string::npos);

    // A FIFO is not waited on.
    std::filesystem::remove(entry);
    ASSERT_EQ(mkfifo(entry.c_str(), 0600), 0);
    EXPECT_FALSE(login.isEnabled());
}

}  // namespace
