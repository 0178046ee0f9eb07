// The port setting a plug-in reads beside its library: the names it takes,
// and the settings reader behind it, in every encoding it takes.
#include "runtime/portSetting.h"

#include "fixtures/hostRun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::string chosen(const std::string& file) {
    PortSetting setting = portSettingFrom(file.c_str(), "com1");
    return std::string(setting.name) + (setting.bad ? " bad" : "");
}

} // namespace

TEST(PortSetting, NamesReadersAndBadValues) {
    const std::pair<const char*, int> good[] = {
        {"COM1", 1}, {"com4", 4}, {"cOm10", 10}, {"COM256", 256}};
    for (const auto& [name, number] : good)
        EXPECT_EQ(comPortNumber(name), number) << name;
    for (const char* bad : {"COM0", "COM257", "COM04", "COM 4", "COM4 ", "LPT1", "COM", "COM1x",
                            "/dev/ttyS0", "\\\\.\\COM4", ""})
        EXPECT_EQ(comPortNumber(bad), 0) << bad;

    const std::string path =
        std::string(::testing::TempDir()) + "kvq-port-setting-" + std::to_string(getpid()) + ".ini";
    auto with = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        return chosen(path);
    };
    unlink(path.c_str());
    EXPECT_EQ(chosen(path), "com1");
    EXPECT_EQ(with("[Other]\nName=COM2\n[ port ]\r\n; Name=COM3\n  NAME =  com12 \r\n"),
              "\\\\.\\COM12");
    EXPECT_EQ(with("[Port]\nName=\"COM7\"\n"), "\\\\.\\COM7");
    EXPECT_EQ(with("[Port]\nName=COM5\nName=COM6\n"), "\\\\.\\COM5");
    EXPECT_EQ(with("Name=COM2\n[Port]\nBaud=4800\n"), "com1"); // no key in [Port]
    EXPECT_EQ(with("[Port]\nName=\n"), "com1");
    EXPECT_EQ(with("[Port]\nName=/dev/ttyUSB0\n"), "com1 bad");
    // As Windows users save it: UTF-8 without and with its mark, and UTF-16 LE
    // with its mark (Notepad's "Unicode"); a UTF-16 BE mark is refused.
    const std::string text = "[Port]\r\n; B\xC3\xBCro\r\nName=COM12\r\n";
    const std::string wide = asUtf16Le(text);
    for (const std::string& saved : {text, "\xEF\xBB\xBF" + text, wide})
        EXPECT_EQ(with(saved), "\\\\.\\COM12") << saved.size();
    EXPECT_EQ(with("\xFE\xFF" + wide.substr(2)), "com1 bad");
    EXPECT_EQ(with("[Port]\n" + std::string(70000, ';')), "com1 bad"); // too long
    unlink(path.c_str());
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0); // there, but no file to read
    EXPECT_EQ(chosen(path), "com1 bad");
    rmdir(path.c_str());

    char file[64];
    ASSERT_TRUE(settingsFileOf("C:\\App 4.2\\KV-X10.dll", file, sizeof file));
    EXPECT_STREQ(file, "C:\\App 4.2\\KV-X10.ini");
    ASSERT_TRUE(settingsFileOf("/opt/app.d/KV-X10", file, sizeof file));
    EXPECT_STREQ(file, "/opt/app.d/KV-X10.ini");
}
