// Tests of the decoder's command line: usage, names, -t, -I, failures that leave no output.
#include "driver/decoder_command.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "command_support.hpp"
#include "decoded_image_support.hpp"
#include "decoder/decode_messages.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

namespace fs = std::filesystem;

using testing::CommandResult;

CommandResult Decode(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quenpix-decode");
    return testing::RunCommand(RunDecoderCommand, arguments);
}

// Copies a reference output and its side file into a fresh directory as NAME.lsg / NAME.pls.
std::string CopyReference(const std::string& dir, const std::string& name) {
    const std::string base = dir + "/" + name;
    fs::copy_file(testing::DataPath("expected/p12_photo_64x64.default.lsg"), base + ".lsg");
    fs::copy_file(testing::DataPath("expected/p12_photo_64x64.default.pls"), base + ".pls");
    fs::permissions(base + ".lsg", fs::perms::owner_write, fs::perm_options::add);
    return base + ".lsg";
}

std::string DifferenceFromOriginal(const std::string& bitmap) {
    BitmapImage original;
    BitmapImage decoded;
    testing::LoadBmp(testing::ReadFileBytes(testing::DataPath("public/p12_photo_64x64.bmp")),
                     original);
    testing::LoadBmp(testing::ReadFileBytes(bitmap), decoded);
    return testing::FirstPixelDifference(original, decoded);
}

TEST(DecoderCommand, BadCommandLinesPrintTheUsage) {
    const std::string usage =
        "Usage: quenpix-decode [-t] [-I] [-f] [-j N] [--format bmp|png|ppm] input.lsg "
        "[output.bmp|.png|.ppm|-]\n"
        "       quenpix-decode --info input.lsg\n"
        " -t - test: decode and verify, write nothing\n"
        " -f - overwrite an existing output file\n"
        " -I - information of process\n"
        " -j N - decode on N threads (0, the default: as many as the CPUs allowed)\n"
        " --format F - write F (bmp, png or ppm) whatever the output's name; - is standard "
        "output\n"
        " --info - describe the file, write nothing\n"
        " --help - print this text\n"
        " --version - print the version\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, ""},
        {{"-x", "a.lsg"}, "Unknown option -x\n"},
        {{"-T", "a.lsg"}, "Unknown option -T\n"},
        {{"a.lsg", "b.bmp", "c"}, ""},
        {{"-t", "a.lsg", "b.bmp"}, ""},
        {{"--info", "a.lsg", "b.bmp"}, ""},
        {{"-I"}, ""},
        {{"--format", "gif", "a.lsg"}, "Unknown format gif: give bmp, png or ppm\n"},
        {{"a.lsg", "-j"},
         "Bad thread count : give a whole number, 0 for as many as the CPUs allow\n"},
        {{"-j", "a.lsg"},
         "Bad thread count a.lsg: give a whole number, 0 for as many as the CPUs allow\n"},
        {{"-j-1", "a.lsg"},
         "Bad thread count -1: give a whole number, 0 for as many as the CPUs allow\n"},
        {{"a.lsg", "b.jpg"},
         "Output file b.jpg: unknown image format; name it .bmp, .png, .ppm or .pnm, or give "
         "--format bmp, png or ppm\n"},
    };
    for (const auto& [arguments, line] : cases) {
        const CommandResult run = Decode(arguments);
        EXPECT_EQ(run.status, 1) << arguments.size() << " arguments";
        EXPECT_EQ(run.err, line + usage);
    }
    const CommandResult help = Decode({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, usage);
    const CommandResult version = Decode({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("quenpix-decode ") + QUENPIX_VERSION + "\n");
}

TEST(DecoderCommand, DefaultOutputNameReplacesTheLastExtension) {
    EXPECT_EQ(DefaultBitmapName("input.lsg"), "input.bmp");
    EXPECT_EQ(DefaultBitmapName("dir.v2/input"), "dir.v2/input.bmp");
    EXPECT_EQ(DefaultBitmapName("a.b.lsg"), "a.b.bmp");
    EXPECT_EQ(DefaultBitmapName("x."), "x.bmp");

    const std::string dir = testing::MakeTempDir("decode-default");
    const std::string input = CopyReference(dir, "photo");
    const CommandResult run = Decode({input});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(DifferenceFromOriginal(dir + "/photo.bmp"), "");
    EXPECT_FALSE(fs::exists(dir + "/photo.bmp.part"));

    const CommandResult explicitName = Decode({input, dir + "/other.bmp"});
    ASSERT_EQ(explicitName.status, 0) << explicitName.err;
    EXPECT_EQ(DifferenceFromOriginal(dir + "/other.bmp"), "");
}

TEST(DecoderCommand, ThreadCountInEitherSpellingAnywhere) {
    const std::string dir = testing::MakeTempDir("decode-threads");
    const std::string input = CopyReference(dir, "photo");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"-j", "1", input, dir + "/one.bmp"}, {input, "-j2", dir + "/two.bmp"}}) {
        const CommandResult run = Decode(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(DifferenceFromOriginal(arguments.back()), "") << arguments.back();
    }
}

TEST(DecoderCommand, TestModeVerifiesWithoutWriting) {
    const std::string dir = testing::MakeTempDir("decode-test");
    const std::string input = CopyReference(dir, "photo");
    const CommandResult run = Decode({"-t", input});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
        << "only the input and side file";

    std::vector<uint8_t> bytes = testing::ReadFileBytes(input);
    bytes[bytes.size() - 20] ^= 0x10;  // inside the last IDAT chunk
    testing::WriteFileBytes(input, bytes);
    const CommandResult bad = Decode({"-t", input});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, std::string(decode_messages::kCrcMismatch) + "IDAT\n");
}

TEST(DecoderCommand, FailuresLeaveNoOutputAndKeepAnExistingFile) {
    const std::string dir = testing::MakeTempDir("decode-fail");
    const std::string input = CopyReference(dir, "photo");
    const std::string output = dir + "/photo.bmp";
    testing::WriteFileBytes(output, {'o', 'l', 'd'});

    std::vector<uint8_t> side = testing::ReadFileBytes(dir + "/photo.pls");
    side.push_back(0);
    testing::WriteFileBytes(dir + "/photo.pls", side);
    const CommandResult tooLong = Decode({"-f", input});
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_EQ(tooLong.err, std::string(decode_messages::kSideFileTooLong) + "; the side file " +
                               dir + "/photo.pls may belong to another image\n");
    EXPECT_EQ(testing::ReadFileBytes(output), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_FALSE(fs::exists(output + ".part"));

    fs::remove(dir + "/photo.pls");
    const CommandResult noSide = Decode({input, dir + "/new.bmp"});
    EXPECT_EQ(noSide.status, 1);
    EXPECT_EQ(noSide.err, "Can't open side file " + dir + "/photo.pls\n");
    EXPECT_FALSE(fs::exists(dir + "/new.bmp"));

    const CommandResult noInput = Decode({dir + "/missing.lsg"});
    EXPECT_EQ(noInput.status, 1);
    EXPECT_EQ(noInput.err, "Can't open input file " + dir + "/missing.lsg\n");

    side.pop_back();
    testing::WriteFileBytes(dir + "/photo.pls", side);
    const CommandResult noDirectory = Decode({"-I", input, dir + "/none/x.bmp"});
    EXPECT_EQ(noDirectory.status, 1);
    EXPECT_EQ(noDirectory.err, "Can't open output file " + dir + "/none/x.bmp\n");

    const CommandResult sameName = Decode({"-f", "--format", "bmp", input, input});
    EXPECT_EQ(sameName.status, 1);
    EXPECT_EQ(sameName.err, "Output file " + input + " would replace the input\n");
}

TEST(DecoderCommand, ProgressShowsPercentagesOnOneLine) {
    const std::string dir = testing::MakeTempDir("decode-progress");
    const std::string input = CopyReference(dir, "photo");
    const CommandResult run = Decode({"-I", input});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("0%                \r", 0), 0u) << run.out;
    const std::string ending = "100%                \r\n";
    ASSERT_GE(run.out.size(), ending.size());
    EXPECT_EQ(run.out.substr(run.out.size() - ending.size()), ending);
}

}  // namespace
}  // namespace quenpix
