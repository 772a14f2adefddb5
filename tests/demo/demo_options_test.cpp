#include "sim/demo/demo_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenlark::demo {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

ParsedOptions Parse(std::vector<std::string_view> arguments) {
    return ParseDemoOptions(arguments);
}

TEST(DemoOptions, DefaultsRunUntilCtrlCWithAPistolFiringEverySecond) {
    const ParsedOptions parsed = Parse({});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_FALSE(parsed.options.durationSeconds.has_value());
    EXPECT_EQ(parsed.options.shotIntervalSeconds, 1.0);
    EXPECT_TRUE(parsed.options.pistol);
    EXPECT_TRUE(parsed.options.recordPath.empty());
    EXPECT_TRUE(parsed.options.plotPath.empty());
    EXPECT_TRUE(parsed.options.driverFolder.empty());
    EXPECT_FALSE(parsed.options.help);
}

TEST(DemoOptions, TakesEveryOptionInBothForms) {
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{
             {"--duration", "15", "--shot-interval", "0.5", "--no-pistol", "--record", "s.csv",
              "--plot", "s.svg", "--driver-folder", "/p/quenlark_k7"},
             {"--driver-folder=/p/quenlark_k7", "--plot=s.svg", "--record=s.csv", "--no-pistol",
              "--shot-interval=0.5", "--duration=15"},
         }) {
        const ParsedOptions parsed = Parse(arguments);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        EXPECT_EQ(parsed.options.durationSeconds, 15.0);
        EXPECT_EQ(parsed.options.shotIntervalSeconds, 0.5);
        EXPECT_FALSE(parsed.options.pistol);
        EXPECT_EQ(parsed.options.recordPath, "s.csv");
        EXPECT_EQ(parsed.options.plotPath, "s.svg");
        EXPECT_EQ(parsed.options.driverFolder, "/p/quenlark_k7");
    }
    EXPECT_EQ(Parse({"--duration", "2.5e1"}).options.durationSeconds, 25.0);
    EXPECT_EQ(Parse({"--duration", "1", "--duration", "3"}).options.durationSeconds,
              3.0);  // the last one counts
}

TEST(DemoOptions, HelpWinsOverEverythingAfterIt) {
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{
             {"--help"}, {"-h"}, {"--duration", "5", "--help", "--bogus"}}) {
        const ParsedOptions parsed = Parse(arguments);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        EXPECT_TRUE(parsed.options.help);
    }
    const std::string usage = DemoUsage("quenlark-demo", "/stage/quenlark_k7");
    for (const char* option :
         {"--duration SECONDS", "--shot-interval SECONDS", "--no-pistol", "--record FILE.csv",
          "--plot FILE.svg", "--driver-folder DIR", "--help"}) {
        EXPECT_THAT(usage, HasSubstr(option));
    }
    EXPECT_THAT(usage, HasSubstr("Usage: quenlark-demo"));
    EXPECT_THAT(usage, HasSubstr("(default: /stage/quenlark_k7)"));
    EXPECT_THAT(DemoUsage("quenlark-demo"), Not(HasSubstr("(default: /")));
}

TEST(DemoOptions, SaysClearlyWhatIsWrong) {
    struct Case {
        std::vector<std::string_view> arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"--duration"}, "--duration needs a number of seconds"},
        {{"--duration", "--no-pistol"}, "--duration needs a number of seconds"},
        {{"--duration", "abc"},
         "--duration \"abc\": give the session's length as a number of seconds above 0"},
        {{"--duration", "15s"}, "--duration \"15s\""},
        {{"--duration", ""}, "--duration \"\""},
        {{"--duration", "0"}, "above 0"},
        {{"--duration", "-5"}, "above 0"},
        {{"--duration", "nan"}, "--duration \"nan\""},
        {{"--duration", "1e999"}, "--duration \"1e999\""},
        {{"--duration", "inf"}, "--duration \"inf\""},
        {{"--shot-interval", "often"},
         "--shot-interval \"often\": give the time between shots as a number of seconds"},
        {{"--shot-interval", "0.1"},
         "--shot-interval 0.1: shots must be at least 0.244 seconds apart (22 frames at 90"},
        {{"--shot-interval", "0"}, "at least 0.244 seconds apart"},
        {{"--shot-interval=-1"}, "at least 0.244 seconds apart"},
        {{"--no-pistol=yes"}, "--no-pistol takes no value"},
        {{"--record"}, "--record needs a file name, such as session.csv"},
        {{"--plot", "--duration", "3"}, "--plot needs a file name, such as session.svg"},
        {{"--record="}, "--record needs a file name, not an empty one"},
        {{"--record", "x", "--plot", "x"}, "--record and --plot name the same file, \"x\""},
        {{"--driver-folder"}, "--driver-folder needs the installed driver folder"},
        {{"--driver-folder="}, "--driver-folder needs a folder, not an empty name"},
        {{"--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"-d", "3"}, "unknown option \"-d\""},
        {{"15"}, "unexpected argument \"15\""},
        {{"--duration", "5", "10"}, "unexpected argument \"10\""},
    };
    for (const Case& c : cases) {
        const ParsedOptions parsed = Parse(c.arguments);
        EXPECT_FALSE(parsed.ok()) << c.message;
        EXPECT_THAT(parsed.error, HasSubstr(c.message));
    }
}

TEST(DemoOptions, ReadsArgv) {
    const char* argv[] = {"session", "--duration", "15", "--plot", "/tmp/session.svg", nullptr};
    const ParsedOptions parsed = ParseDemoOptions(5, argv);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options.durationSeconds, 15.0);
    EXPECT_EQ(parsed.options.plotPath, "/tmp/session.svg");
}

}  // namespace
}  // namespace quenlark::demo
