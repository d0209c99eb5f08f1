// The program's command line (portable: runs natively and under Wine).
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(CommandLine, WordsAfterTheProgramsNameWithQuotesGrouping) {
    using W = std::vector<std::string>;
    EXPECT_EQ(CommandLineArguments("QuotivaUpgrade.exe"), W{});
    EXPECT_EQ(CommandLineArguments("\"C:\\Program Files\\Q\\QuotivaUpgrade.exe\" /quiet"), W{"/quiet"});
    EXPECT_EQ(CommandLineArguments("q.exe  /quiet   \"/log:C:\\a b\\q.log\"\t/auto"),
              (W{"/quiet", "/log:C:\\a b\\q.log", "/auto"}));
    EXPECT_EQ(CommandLineArguments("q.exe \"\""), W{""});
}

TEST(CommandLine, OptionsAndWhatIsNoOption) {
    struct Case {
        std::vector<std::string> args;
        bool autoStart, quiet, usage;
        std::string log, error;
    } cases[] = {
        {{}, false, false, false, "", ""},
        {{"/auto"}, true, false, false, "", ""},
        {{"-AUTO"}, true, false, false, "", ""},
        {{"/Quiet"}, true, true, false, "", ""},
        {{"/quiet", "/log:D:\\Logs\\Q.log"}, true, true, false, "D:\\Logs\\Q.log", ""},
        {{"/?"}, false, false, true, "", ""},
        {{"/log:x.log"}, false, false, false, "x.log", "/log without /quiet"},
        {{"/quit"}, false, false, false, "", "/quit"},
        {{"auto"}, false, false, false, "", "auto"},
        {{"/log:"}, false, false, false, "", "/log:"},
    };
    for (const Case& c : cases) {
        ProgramOptions o = ParseProgramOptions(c.args);
        const std::string shown = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(o.autoStart, c.autoStart) << shown;
        EXPECT_EQ(o.quiet, c.quiet) << shown;
        EXPECT_EQ(o.usage, c.usage) << shown;
        EXPECT_EQ(o.logFile, c.log) << shown;
        EXPECT_EQ(o.error, c.error) << shown;
    }
}

}  // namespace
}  // namespace qv
