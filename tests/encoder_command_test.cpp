// The encoder's command line: options, usage, messages, exit statuses, files and report.
#include "driver/encoder_command.hpp"

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "command_support.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

namespace fs = std::filesystem;

using RunResult = testing::CommandResult;

RunResult RunTool(const std::vector<std::string>& args) {
    return testing::RunCommand(RunEncoderCommand, args);
}

const std::string kUsage =
    "Usage: /opt/bin/quenpix [-I -F -M -P -R] input.bmp output.lsg\n"
    " -I - information of process\n"
    " -F - fasted compression\n"
    " -M - maximal compression\n"
    " -P - not use prediktori\n"
    " -R - only LZ-blocks, oriented to replacement\n";

class EncoderCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testing::MakeTempDir("command");
        input_ = testing::DataPath("public/p05_5x7.bmp");
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // The two stream header bytes: the second one carries the compression level.
    std::vector<uint8_t> StreamHeader(const std::string& file) const {
        const auto bytes = testing::ReadFileBytes(file);
        for (size_t i = 8; i + 8 < bytes.size();) {
            const uint32_t length =
                bytes[i] << 24 | bytes[i + 1] << 16 | bytes[i + 2] << 8 | bytes[i + 3];
            if (std::string(bytes.begin() + static_cast<long>(i) + 4,
                            bytes.begin() + static_cast<long>(i) + 8) == "IDAT") {
                return {bytes[i + 8], bytes[i + 9]};
            }
            i += 12 + length;
        }
        return {};
    }

    std::string dir_;
    std::string input_;
};

TEST_F(EncoderCommand, BadCommandLinesPrintTheUsageText) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"/opt/bin/quenpix"},
             {"/opt/bin/quenpix", "only.bmp"},
             {"/opt/bin/quenpix", "-x", "in.bmp", "out.lsg"},
             {"/opt/bin/quenpix", "-f", "in.bmp", "out.lsg"},
             {"/opt/bin/quenpix", "F", "in.bmp", "out.lsg"},
             {"/opt/bin/quenpix", "-", "in.bmp", "out.lsg"},
             // The last two arguments are the files, so a trailing option makes a.bmp an option.
             {"/opt/bin/quenpix", "a.bmp", "b.lsg", "-I"},
         }) {
        const RunResult result = RunTool(args);
        EXPECT_EQ(result.status, 1) << args.size();
        EXPECT_EQ(result.err, kUsage);
        EXPECT_EQ(result.out, "");
    }
    const std::vector<const char*> none;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunEncoderCommand(0, none.data(), out, err), 1);
    EXPECT_EQ(err.str().substr(0, 15), "Usage: Quenpix ");
}

TEST_F(EncoderCommand, LastLevelOptionWinsAndOnlyTwoCharactersCount) {
    ASSERT_EQ(RunTool({"q", "-F", "-M", input_, Path("a.lsg")}).status, 0);
    EXPECT_EQ(StreamHeader(Path("a.lsg")), (std::vector<uint8_t>{0x98, 0xD2}));
    ASSERT_EQ(RunTool({"q", "-M", "-Fast", input_, Path("b.lsg")}).status, 0);
    EXPECT_EQ(StreamHeader(Path("b.lsg")), (std::vector<uint8_t>{0x98, 0x18}));
    ASSERT_EQ(RunTool({"q", input_, Path("c.lsg")}).status, 0);
    EXPECT_EQ(StreamHeader(Path("c.lsg")), (std::vector<uint8_t>{0x98, 0x94}));

    ASSERT_EQ(RunTool({"q", "-Rubbish", input_, Path("d.lsg")}).status, 0);
    EXPECT_EQ(testing::ReadFileBytes(Path("d.lsg")),
              testing::ReadFileBytes(testing::DataPath("expected/p05_5x7.R.lsg")));
}

TEST_F(EncoderCommand, ReportShowsTimesAndMatchCounts) {
    const RunResult result =
        RunTool({"q", testing::DataPath("public/p10_runs_200x12.bmp"), Path("r.lsg")});
    ASSERT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "");
    std::getline(lines, line);
    EXPECT_NE(line.find(" miliseconds execute."), std::string::npos) << line;
    EXPECT_GE(std::stol(line), 0);
    std::getline(lines, line);
    EXPECT_NE(line.find(" miliseconds copmress."), std::string::npos) << line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Zamineno: ", 0), 0u) << line;
    EXPECT_TRUE(fs::exists(Path("r.pls")));
}

TEST_F(EncoderCommand, ProgressStaysOnOneLineAndTheReportStartsAFreshOne) {
    const RunResult result = RunTool({"q", "-I", input_, Path("p.lsg")});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("0%                \r", 0), 0u);
    EXPECT_NE(result.out.find("100%                \r\n"), std::string::npos);
}

TEST_F(EncoderCommand, UnreadableInputsLeaveNoOutputFile) {
    RunResult result = RunTool({"q", Path("missing.bmp"), Path("m.lsg")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Can't open input file " + Path("missing.bmp") + "\n");
    EXPECT_FALSE(fs::exists(Path("m.lsg")));

    testing::WriteFileBytes(Path("bad.bmp"), {'B', 'M', 1, 2, 3});
    result = RunTool({"q", Path("bad.bmp"), Path("m.lsg")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error reading BMP input file\n");
    EXPECT_FALSE(fs::exists(Path("m.lsg")));
    EXPECT_FALSE(fs::exists(Path("m.pls")));
}

TEST_F(EncoderCommand, IndexedBitmapIsRefusedWithoutTouchingAnExistingOutput) {
    testing::WriteFileBytes(Path("keep.lsg"), {1, 2, 3});
    const RunResult result =
        RunTool({"q", testing::DataPath("public/p23_8bit_topdown_17x11.bmp"), Path("keep.lsg")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Image not is True Color (24 bits)\n");
    EXPECT_EQ(testing::ReadFileBytes(Path("keep.lsg")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(fs::exists(Path("keep.pls")));
}

TEST_F(EncoderCommand, ImageWithoutPixelsIsRefusedBeforeAnyOutput) {
    testing::WriteFileBytes(Path("empty.bmp"), testing::MakeBmp24(0, 5, [](uint32_t, uint32_t) {
                                return testing::Rgb{};
                            }));
    const RunResult result = RunTool({"q", Path("empty.bmp"), Path("e.lsg")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Image has no pixels\n");
    EXPECT_FALSE(fs::exists(Path("e.lsg")));
}

TEST_F(EncoderCommand, UnwritableOutputIsReported) {
    const RunResult result = RunTool({"q", input_, Path("no/such/dir/x.lsg")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Can't open output file " + Path("no/such/dir/x.lsg") + "\n");
}

TEST_F(EncoderCommand, SideFileIsNamedInTheOutputsOwnFolder) {
    fs::create_directories(Path("pics.old"));
    ASSERT_EQ(RunTool({"q", input_, Path("pics.old/photo")}).status, 0);
    EXPECT_TRUE(fs::exists(Path("pics.old/photo.pls")));
    EXPECT_FALSE(fs::exists(Path("pics.pls")));
}

}  // namespace
}  // namespace quenpix

namespace quenpix {
namespace {

TEST(EncoderCommandFailures, WriteFailureIsReportedAndLeavesNoPartialFiles) {
    // /dev/full accepts the open and fails every write; a device is never removed.
    std::vector<const char*> argv = {"q", nullptr, "/dev/full"};
    const std::string input = testing::DataPath("public/p05_5x7.bmp");
    argv[1] = input.c_str();
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_TRUE(std::filesystem::exists("/dev/full"));
    EXPECT_EQ(RunEncoderCommand(3, argv.data(), out, err), 1);
    EXPECT_EQ(err.str(), "Error writing output file /dev/full\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

TEST(EncoderCommandFailures, UnopenableSideFileRemovesTheOutputAndKeepsWhatStoodThere) {
    const std::string dir = testing::MakeTempDir("side");
    // A directory where the side file should go: it cannot be opened as a file.
    std::filesystem::create_directories(dir + "/x.pls");
    const std::string input = testing::DataPath("public/p05_5x7.bmp");
    const std::string output = dir + "/x.lsg";
    std::vector<const char*> argv = {"q", input.c_str(), output.c_str()};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunEncoderCommand(3, argv.data(), out, err), 1);
    EXPECT_EQ(err.str(), "Can't open output file " + dir + "/x.pls\n");
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/x.pls"));
}

}  // namespace
}  // namespace quenpix
