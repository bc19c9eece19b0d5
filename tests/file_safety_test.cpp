// End-to-end: no run of either tool loses a file, whatever the names, the files in the way,
// the failures, the signals or the sizes declared.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "process_support.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::ProcessOptions;
using testing::ProcessResult;
using testing::ReadFileBytes;
using testing::RunProcess;
using testing::WriteFileBytes;

const std::string kEncoder = QUENPIX_TOOL;
const std::string kDecoder = QUENPIX_DECODE_TOOL;

class FileSafety : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testing::MakeTempDir("safety");
        fs::copy_file(testing::DataPath("public/p12_photo_64x64.bmp"), Path("photo.bmp"));
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // The folder's names, sorted, to show that nothing was added or left behind.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A refusal: status 1, exactly this one line on standard error, nothing written.
    void ExpectRefused(const ProcessResult& run, const std::string& line) const {
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.err, line + "\n");
    }
    ProcessResult Encode(std::vector<std::string> args, const ProcessOptions& options = {}) {
        args.insert(args.begin(), kEncoder);
        return RunProcess(args, options);
    }
    ProcessResult Decode(std::vector<std::string> args, const ProcessOptions& options = {}) {
        args.insert(args.begin(), kDecoder);
        return RunProcess(args, options);
    }

    std::string dir_;
};

TEST_F(FileSafety, EncoderRefusesNamesThatWouldDestroyTheInputOrItsOwnOutput) {
    const Bytes photo = ReadFileBytes(Path("photo.bmp"));
    ExpectRefused(Encode({Path("photo.bmp"), Path("x.pls")}),
                  "Output file " + Path("x.pls") + " would be replaced by its own side file");
    fs::create_hard_link(Path("photo.bmp"), Path("link.bmp"));
    for (const std::string& output : {Path("photo.bmp"), dir_ + "/./photo.bmp", Path("link.bmp")}) {
        ExpectRefused(Encode({Path("photo.bmp"), output}),
                      "Output file " + output + " would replace the input");
    }
    // The side file of out.lsg is out.pls: here, the input.
    fs::copy_file(Path("photo.bmp"), Path("out.pls"));
    ExpectRefused(Encode({Path("out.pls"), Path("out.lsg")}),
                  "Side file " + Path("out.pls") + " would replace the input");
    EXPECT_EQ(ReadFileBytes(Path("photo.bmp")), photo);
    EXPECT_EQ(ReadFileBytes(Path("out.pls")), photo);
    EXPECT_EQ(Names(), (std::vector<std::string>{"link.bmp", "out.pls", "photo.bmp"}));
}

TEST_F(FileSafety, DecoderRefusesItsInputsAndExistingFilesWithoutF) {
    ASSERT_EQ(Encode({Path("photo.bmp"), Path("q.lsg")}).exitStatus, 0);
    const Bytes lsg = ReadFileBytes(Path("q.lsg"));
    const Bytes pls = ReadFileBytes(Path("q.pls"));
    ExpectRefused(Decode({"--format", "bmp", Path("q.lsg"), dir_ + "/./q.lsg"}),
                  "Output file " + dir_ + "/./q.lsg would replace the input");
    ExpectRefused(Decode({"-f", "--format", "bmp", Path("q.lsg"), Path("q.pls")}),
                  "Output file " + Path("q.pls") + " would replace the side file " + Path("q.pls"));
    // With no output name the bitmap would be q.bmp; an existing one needs -f.
    WriteFileBytes(Path("q.bmp"), {'o', 'l', 'd'});
    ExpectRefused(Decode({Path("q.lsg")}),
                  "Output file " + Path("q.bmp") + " already exists; use -f to overwrite it");
    EXPECT_EQ(ReadFileBytes(Path("q.bmp")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(ReadFileBytes(Path("q.lsg")), lsg);
    EXPECT_EQ(ReadFileBytes(Path("q.pls")), pls);

    const ProcessResult forced = Decode({"-f", Path("q.lsg")});
    EXPECT_EQ(forced.exitStatus, 0) << forced.err;
    EXPECT_EQ(ReadFileBytes(Path("q.bmp")), ReadFileBytes(Path("photo.bmp")));
    EXPECT_EQ(Names(), (std::vector<std::string>{"photo.bmp", "q.bmp", "q.lsg", "q.pls"}));
}

TEST_F(FileSafety, ReplacedFilesKeepTheirModeAndLinksAndSpecialFilesAreWrittenInPlace) {
    // An existing pair, one of them private, the other reached through a symbolic link.
    WriteFileBytes(Path("x.lsg"), {1});
    fs::permissions(Path("x.lsg"), fs::perms::owner_read | fs::perms::owner_write);
    WriteFileBytes(Path("real.pls"), {2});
    fs::create_symlink("real.pls", Path("x.pls"));
    ASSERT_EQ(Encode({Path("photo.bmp"), Path("x.lsg")}).exitStatus, 0);
    EXPECT_EQ(fs::status(Path("x.lsg")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(fs::is_symlink(Path("x.pls")));
    EXPECT_GT(fs::file_size(Path("real.pls")), 1u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"photo.bmp", "real.pls", "x.lsg", "x.pls"}));

    // A FIFO is written into, not replaced; its reader gets the whole bitmap.
    ASSERT_EQ(mkfifo(Path("pipe.bmp").c_str(), 0600), 0);
    Bytes piped;
    std::atomic<bool> read{false};
    std::thread reader([&] {
        piped = ReadFileBytes(Path("pipe.bmp"));
        read = true;
    });
    const ProcessResult toFifo = Decode({Path("x.lsg"), Path("pipe.bmp")});
    // A decoder that failed before opening the FIFO would leave the reader waiting for a
    // writer: one that writes nothing lets it go.
    while (!read) {
        const int fd = open(Path("pipe.bmp").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reader.join();
    EXPECT_EQ(toFifo.exitStatus, 0) << toFifo.err;
    EXPECT_TRUE(fs::is_fifo(Path("pipe.bmp")));
    EXPECT_EQ(piped, ReadFileBytes(Path("photo.bmp")));

    // A device too: a full one is a failure, and it stays a device.
    ExpectRefused(Decode({Path("x.lsg"), "/dev/full"}), "Error writing output file /dev/full");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    // So is standard output, here a file the caller opened.
    const ProcessResult toStdout = Decode({Path("x.lsg"), "/dev/stdout"});
    EXPECT_EQ(toStdout.exitStatus, 0) << toStdout.err;
    EXPECT_EQ(Bytes(toStdout.out.begin(), toStdout.out.end()), ReadFileBytes(Path("photo.bmp")));
}

TEST_F(FileSafety, FailedRunsLeaveTheExistingPairAsItWas) {
    ASSERT_EQ(Encode({Path("photo.bmp"), Path("x.lsg")}).exitStatus, 0);
    const Bytes lsg = ReadFileBytes(Path("x.lsg"));
    const Bytes pls = ReadFileBytes(Path("x.pls"));
    const auto expectPairKept = [&](const std::string& what) {
        EXPECT_EQ(ReadFileBytes(Path("x.lsg")), lsg) << what;
        EXPECT_EQ(ReadFileBytes(Path("x.pls")), pls) << what;
    };
    ProcessOptions unprivileged;
    unprivileged.unprivileged = true;
    fs::permissions(dir_, fs::perms::all);
    fs::permissions(Path("photo.bmp"), fs::perms::all);

    // A read-only side file: the user's compressed file stays too.
    fs::permissions(Path("x.lsg"), fs::perms::all);
    fs::permissions(Path("x.pls"),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ExpectRefused(Encode({Path("photo.bmp"), Path("x.lsg")}, unprivileged),
                  "Can't open output file " + Path("x.pls"));
    expectPairKept("read-only side file");
    fs::permissions(Path("x.pls"), fs::perms::owner_write, fs::perm_options::add);

    // A full device behind the side file's name: nothing replaced, nothing left behind.
    fs::rename(Path("x.pls"), Path("kept.pls"));
    fs::create_symlink("/dev/full", Path("x.pls"));
    ExpectRefused(Encode({Path("photo.bmp"), Path("x.lsg")}),
                  "Error writing output file " + Path("x.pls"));
    EXPECT_EQ(ReadFileBytes(Path("x.lsg")), lsg);
    fs::remove(Path("x.pls"));
    fs::rename(Path("kept.pls"), Path("x.pls"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"photo.bmp", "x.lsg", "x.pls"}));

    // A read-only folder.
    fs::create_directory(Path("ro"));
    fs::permissions(Path("ro"), fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    ExpectRefused(Encode({Path("photo.bmp"), Path("ro/y.lsg")}, unprivileged),
                  "Can't open output file " + Path("ro/y.lsg"));
    ExpectRefused(Decode({Path("x.lsg"), Path("ro/y.bmp")}, unprivileged),
                  "Can't open output file " + Path("ro/y.bmp"));
    EXPECT_TRUE(fs::is_empty(Path("ro")));
}

TEST_F(FileSafety, BitmapsGoOutInBandsAndAFailedWriteLeavesNothing) {
    // The pixels after the two headers, which the test's bitmap fills in more sparsely.
    const auto pixels = [](const Bytes& bmp) { return Bytes(bmp.begin() + 54, bmp.end()); };
    const auto expectWhole = [&](uint32_t width, int32_t height) {
        WriteFileBytes(Path("wide.bmp"), testing::MakeBmp24(width, height, [](uint32_t x,
                                                                              uint32_t y) {
                           return testing::Rgb{static_cast<uint8_t>(x * y),
                                               static_cast<uint8_t>(x), static_cast<uint8_t>(y)};
                       }));
        ASSERT_EQ(Encode({Path("wide.bmp"), Path("w.lsg")}).exitStatus, 0);
        for (const char* threads : {"1", "2"}) {
            const ProcessResult run = Decode({"-f", "-j", threads, Path("w.lsg"), Path("w.bmp")});
            EXPECT_EQ(run.exitStatus, 0) << run.err;
            EXPECT_EQ(pixels(ReadFileBytes(Path("w.bmp"))),
                      pixels(ReadFileBytes(Path("wide.bmp"))))
                << width << " x " << height << ", " << threads << " threads";
        }
    };
    // Rows of over a megabyte each: a band of one row each.
    expectWhole(360000, 3);
    // Over a megabyte of rows: two bands, the last one partial.
    expectWhole(700, 700);

    // A private file replaced stays private; a link is written through and stays a link.
    fs::permissions(Path("w.bmp"), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("w.bmp", Path("link.bmp"));
    ASSERT_EQ(Decode({"-f", Path("w.lsg"), Path("link.bmp")}).exitStatus, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.bmp")));
    EXPECT_EQ(pixels(ReadFileBytes(Path("w.bmp"))), pixels(ReadFileBytes(Path("wide.bmp"))));
    EXPECT_EQ(fs::status(Path("w.bmp")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    fs::remove(Path("link.bmp"));

    WriteFileBytes(Path("w.bmp"), {'o', 'l', 'd'});
    ProcessOptions limited;
    limited.fileSizeLimit = 1 << 20;
    ExpectRefused(Decode({"-f", Path("w.lsg"), Path("w.bmp")}, limited),
                  "Error writing output file " + Path("w.bmp"));
    EXPECT_EQ(ReadFileBytes(Path("w.bmp")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"photo.bmp", "w.bmp", "w.lsg", "w.pls", "wide.bmp"}));
}

TEST_F(FileSafety, AnInterruptedRunLeavesTheOldFilesByteForByte) {
    ASSERT_EQ(Encode({Path("photo.bmp"), Path("x.lsg")}).exitStatus, 0);
    const Bytes lsg = ReadFileBytes(Path("x.lsg"));
    const Bytes pls = ReadFileBytes(Path("x.pls"));
    // Noise compresses slowly at the maximal level: time enough to be stopped halfway.
    uint32_t state = 1;
    WriteFileBytes(Path("large.bmp"), testing::MakeBmp24(1500, 1500, [&](uint32_t, uint32_t) {
                       state = state * 1103515245u + 12345u;
                       return testing::Rgb{static_cast<uint8_t>(state >> 24),
                                           static_cast<uint8_t>(state >> 16), 0};
                   }));
    testing::ChildProcess run({kEncoder, "-M", Path("large.bmp"), Path("x.lsg")});
    // Waits until the run has opened its temporary files, then stops it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Names().size() < 6 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    run.Signal(SIGTERM);
    const ProcessResult result = run.Wait();
    ASSERT_EQ(result.signal, SIGTERM) << "the run ended before the signal: " << result.exitStatus;
    EXPECT_EQ(ReadFileBytes(Path("x.lsg")), lsg);
    EXPECT_EQ(ReadFileBytes(Path("x.pls")), pls);
    EXPECT_EQ(Names(), (std::vector<std::string>{"large.bmp", "photo.bmp", "x.lsg", "x.pls"}));
}

TEST_F(FileSafety, AnInterruptedDecodeLeavesTheOldBitmapByteForByte) {
    // Nine megapixels of noise on one thread: time enough to be stopped while decoding, which
    // writes the new bitmap as it goes.
    uint32_t state = 1;
    WriteFileBytes(Path("noise.bmp"), testing::MakeBmp24(3000, 3000, [&](uint32_t, uint32_t) {
                       state = state * 1103515245u + 12345u;
                       return testing::Rgb{static_cast<uint8_t>(state >> 24),
                                           static_cast<uint8_t>(state >> 16),
                                           static_cast<uint8_t>(state >> 8)};
                   }));
    ASSERT_EQ(Encode({"-F", Path("noise.bmp"), Path("n.lsg")}).exitStatus, 0);
    WriteFileBytes(Path("n.bmp"), {'o', 'l', 'd'});
    const std::vector<std::string> before = Names();
    testing::ChildProcess run({kDecoder, "-j", "1", "-f", Path("n.lsg"), Path("n.bmp")});
    // Waits until the run has opened its temporary file, then stops it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Names().size() == before.size() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    run.Signal(SIGTERM);
    const ProcessResult result = run.Wait();
    ASSERT_EQ(result.signal, SIGTERM) << "the run ended before the signal: " << result.exitStatus;
    EXPECT_EQ(ReadFileBytes(Path("n.bmp")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Names(), before);
}

TEST_F(FileSafety, InputsThatAreNoReadableFileGetOneLine) {
    ASSERT_EQ(Encode({Path("photo.bmp"), Path("x.lsg")}).exitStatus, 0);
    fs::create_directory(Path("folder"));
    ExpectRefused(Encode({Path("folder"), Path("y.lsg")}),
                  "Can't open input file " + Path("folder"));
    ExpectRefused(Decode({Path("folder")}), "Can't open input file " + Path("folder"));

    ProcessOptions unprivileged;
    unprivileged.unprivileged = true;
    fs::permissions(Path("x.lsg"), fs::perms::none);
    ExpectRefused(Decode({"-t", Path("x.lsg")}, unprivileged),
                  "Can't open input file " + Path("x.lsg"));
    fs::permissions(Path("x.lsg"), fs::perms::all);

    // Larger than any compressed file can be, without a byte of it read.
    const std::string huge = Path("huge.lsg");
    WriteFileBytes(huge, {});
    fs::resize_file(huge, uintmax_t{16} << 30);
    fs::copy_file(Path("x.pls"), Path("huge.pls"));
    ExpectRefused(Decode({"-t", huge}),
                  "Can't read input file " + huge + ": larger than any valid file");
    fs::remove(huge);

    // A pipe still works as an input of both tools.
    const auto throughPipe = [&](const std::string& pipe, const std::string& source, auto&& run) {
        EXPECT_EQ(mkfifo(Path(pipe).c_str(), 0600), 0);
        std::thread writer([&] { WriteFileBytes(Path(pipe), ReadFileBytes(Path(source))); });
        const ProcessResult result = run();
        writer.join();
        EXPECT_EQ(result.exitStatus, 0) << pipe << ": " << result.err;
    };
    throughPipe("in.bmp", "photo.bmp", [&] { return Encode({Path("in.bmp"), Path("p.lsg")}); });
    EXPECT_EQ(ReadFileBytes(Path("p.lsg")), ReadFileBytes(Path("x.lsg")));
    fs::copy_file(Path("x.pls"), Path("in.pls"));
    throughPipe("in.lsg", "x.lsg", [&] { return Decode({Path("in.lsg"), Path("p.bmp")}); });
    EXPECT_EQ(ReadFileBytes(Path("p.bmp")), ReadFileBytes(Path("photo.bmp")));
}

// A few bytes that declare a huge image are refused with today's message, in little memory.
TEST_F(FileSafety, TinyFilesDeclaringHugeImagesCostNothing) {
    if (!testing::AddressSpaceLimitsWork()) GTEST_SKIP() << "sanitizers reserve the address space";
    const auto bmp = [](uint32_t width, uint32_t height, uint16_t bits, uint32_t compression,
                        const Bytes& pixels) {
        const uint32_t colours = bits <= 8 ? 1u << bits : 0;
        const uint32_t offset = 54 + 4 * colours;
        Bytes out{'B', 'M'};
        const auto le = [&out](uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i)
                out.push_back(static_cast<uint8_t>(value >> (8 * i)));
        };
        le(offset + static_cast<uint32_t>(pixels.size()), 4);
        le(0, 4);
        le(offset, 4);
        for (const uint32_t field : {40u, width, height})
            le(field, 4);
        le(1, 2);
        le(bits, 2);
        for (const uint32_t field : {compression, 0u, 0u, 0u, 0u, 0u})
            le(field, 4);
        out.resize(offset, 0);
        out.insert(out.end(), pixels.begin(), pixels.end());
        return out;
    };
    Bytes rows;
    for (int i = 0; i < 200; ++i)
        rows.insert(rows.end(), {0, 2, 0, 255});  // deltas down the image
    Bytes valid = rows;
    valid.insert(valid.end(), {0, 1});
    Bytes damaged = rows;
    damaged.insert(damaged.end(), {255, 7});  // runs past the right edge
    const std::string notTrueColour = "Image not is True Color (24 bits)";
    const struct {
        Bytes file;
        std::string message;
    } cases[] = {
        {bmp(37000, 37000, 24, 0, Bytes(16, 0)), "Error reading BMP input file"},
        {bmp(60000, 60000, 8, 1, valid), notTrueColour},
        {bmp(60000, 60000, 4, 2, valid), notTrueColour},
        {bmp(60000, 60000, 8, 1, damaged), "Corrupt Windows Bitmap stream"},
        {bmp(60000, 60000, 1, 0, Bytes(64, 0)), "Error reading BMP input file"},
        {bmp(60000, 60000, 4, 0, Bytes(64, 0)), "Error reading BMP input file"},
        {bmp(60000, 60000, 8, 0, Bytes(64, 0)), "Error reading BMP input file"},
    };
    ProcessOptions limited;
    limited.addressSpaceLimit = uint64_t{256} << 20;
    for (size_t i = 0; i < std::size(cases); ++i) {
        WriteFileBytes(Path("bomb.bmp"), cases[i].file);
        const ProcessResult run = Encode({Path("bomb.bmp"), Path("bomb.lsg")}, limited);
        EXPECT_EQ(run.exitStatus, 1) << "case " << i;
        EXPECT_EQ(run.err, cases[i].message + "\n") << "case " << i;
    }
    EXPECT_FALSE(fs::exists(Path("bomb.lsg")));
}

}  // namespace
}  // namespace quenpix
