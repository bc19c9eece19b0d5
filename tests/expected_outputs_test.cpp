// End to end: every public 24-bit image under seven option sets must give, byte for byte, the
// reference output file, side file and match report, at every thread count.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/encoder_command.hpp"
#include "encoder/png_encoder.hpp"
#include "image/bitmap_image.hpp"
#include "image/bmp_decoder.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

struct ExpectedRun {
    std::string input;
    std::vector<std::string> options;
    std::string outputFile;
    std::string sideFile;
    std::string report;
};

std::vector<ExpectedRun> LoadExpectedRuns() {
    std::ifstream in(testing::DataPath("expected/reports.tsv"));
    std::vector<ExpectedRun> runs;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream fieldStream(line);
        std::string field;
        while (std::getline(fieldStream, field, '\t'))
            fields.push_back(field);
        if (fields.size() != 5) continue;
        ExpectedRun run{fields[0], {}, fields[2], fields[3], fields[4]};
        std::stringstream optionStream(fields[1]);
        std::string option;
        while (optionStream >> option)
            run.options.push_back(option);
        runs.push_back(run);
    }
    return runs;
}

std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

// Offset of the first differing byte, or -1.
long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

class ExpectedOutputs : public ::testing::TestWithParam<ExpectedRun> {};

TEST_P(ExpectedOutputs, OutputSideFileAndReportMatchTheReference) {
    const ExpectedRun& run = GetParam();
    const std::string dir = testing::MakeTempDir("expected");
    const std::string output = dir + "/" + run.outputFile;
    const std::string input = testing::DataPath("public/" + run.input);
    std::vector<const char*> argv = {"quenpix"};
    for (const auto& option : run.options)
        argv.push_back(option.c_str());
    argv.push_back(input.c_str());
    argv.push_back(output.c_str());
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunEncoderCommand(static_cast<int>(argv.size()), argv.data(), out, err), 0)
        << err.str();
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(LastLine(out.str()), run.report);

    const auto expectedOutput =
        testing::ReadFileBytes(testing::DataPath("expected/" + run.outputFile));
    const auto actualOutput = testing::ReadFileBytes(output);
    EXPECT_EQ(FirstDifference(actualOutput, expectedOutput), -1)
        << run.outputFile << ": " << actualOutput.size() << " bytes written, "
        << expectedOutput.size() << " expected";
    const auto expectedSide = testing::ReadFileBytes(testing::DataPath("expected/" + run.sideFile));
    const auto actualSide = testing::ReadFileBytes(dir + "/" + run.sideFile);
    EXPECT_EQ(FirstDifference(actualSide, expectedSide), -1)
        << run.sideFile << ": " << actualSide.size() << " bytes written, " << expectedSide.size()
        << " expected";
}

// The tool's options, applied to the encoder object.
void ApplyOptions(const std::vector<std::string>& options, PngEncoder& encoder) {
    for (const std::string& option : options) {
        switch (option[1]) {
            case 'F':
                encoder.SetCompressionLevel(0);
                break;
            case 'M':
                encoder.SetCompressionLevel(3);
                break;
            case 'P':
                encoder.DisableVerticalPlane();
                encoder.DisableHorizontalPlane();
                break;
            case 'R':
                encoder.SetReplaceShortMatches(false);
                break;
            default:
                FAIL() << "option " << option;
        }
    }
}

TEST_P(ExpectedOutputs, EveryThreadCountWritesTheReferenceBytes) {
    const ExpectedRun& run = GetParam();
    const auto expectedOutput =
        testing::ReadFileBytes(testing::DataPath("expected/" + run.outputFile));
    const auto expectedSide = testing::ReadFileBytes(testing::DataPath("expected/" + run.sideFile));
    const std::vector<uint32_t> threadCounts = testing::kThreadSanitizer
                                                   ? std::vector<uint32_t>{2, 7}
                                                   : std::vector<uint32_t>{2, 3, 4, 7, 16};
    for (const uint32_t threads : threadCounts) {
        BitmapImage image;
        std::ifstream in(testing::DataPath("public/" + run.input), std::ios::binary);
        BmpDecoder().ReadImage(in, image);
        PngEncoder encoder;
        ApplyOptions(run.options, encoder);
        encoder.SetThreadCount(threads);
        // Five stretches or so, so that paths cross stretch boundaries even in small images.
        encoder.SetSearchStretch(std::max(1u, image.Width() * image.Height() / 5));
        std::ostringstream out;
        encoder.WriteImage(out, image);
        const std::string written = out.str();
        const std::vector<uint8_t> output(written.begin(), written.end());
        EXPECT_EQ(FirstDifference(output, expectedOutput), -1)
            << run.outputFile << " at " << threads << " threads";
        const auto side = encoder.SideFile().Contents();
        EXPECT_EQ(FirstDifference({side.begin(), side.end()}, expectedSide), -1)
            << run.sideFile << " at " << threads << " threads";
        const MatchCounters& counters = encoder.Counters();
        EXPECT_EQ("Zamineno: " + std::to_string(counters.Total()) + " (" +
                      std::to_string(counters.Raw()) + " S + " +
                      std::to_string(counters.Vertical()) + " V + " +
                      std::to_string(counters.Horizontal()) + " G)",
                  run.report)
            << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(PublicCorpus, ExpectedOutputs, ::testing::ValuesIn(LoadExpectedRuns()),
                         [](const ::testing::TestParamInfo<ExpectedRun>& info) {
                             std::string name = info.param.outputFile;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace quenpix
