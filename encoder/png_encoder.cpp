// PngEncoder: the encoder object, its settings and the encode pipeline.
#include "encoder/png_encoder.hpp"

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "colourbox/colour_boxes.hpp"
#include "encoder/byte_differences.hpp"
#include "encoder/chunk_writer.hpp"
#include "encoder/colour_transform_selection.hpp"
#include "encoder/residual_plane.hpp"
#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"
#include "image/large_buffer.hpp"
#include "parallel/parallel_ranges.hpp"
#include "parallel/thread_count.hpp"
#include "stream/match_finder.hpp"
#include "stream/parallel_match_search.hpp"

namespace quenpix {

namespace {

constexpr int32_t kMaxCompressionLevel = 3;
constexpr std::array<uint32_t, 4> kChainLengthOfLevel = {0, 64, 128, kUnboundedChain};
// Beyond this many distinct residual triples the colour boxes are found pixel by pixel.
constexpr uint32_t kMaxDistinctTriples = 1u << 18;

// Bytes a thread takes at least in the passes over whole planes.
constexpr size_t kGrainBytes = size_t{1} << 18;

// The raw plane: rows top first, each pixel red, green, blue (the image stores blue first).
void FillRawPlane(const BitmapImage& image, uint8_t* raw, uint32_t threads) {
    const uint32_t width = image.Width();
    const size_t grainRows = kGrainBytes / (size_t{3} * width) + 1;
    ForEachRange(threads, image.Height(), grainRows, [&](size_t firstRow, size_t endRow) {
        for (size_t r = firstRow; r < endRow; ++r) {
            const uint8_t* row = image.RowData(static_cast<uint32_t>(r));
            uint8_t* out = raw + r * 3 * width;
            for (uint32_t x = 0; x < width; ++x) {
                out[3 * x] = row[3 * x + 2];
                out[3 * x + 1] = row[3 * x + 1];
                out[3 * x + 2] = row[3 * x];
            }
        }
    });
}

// Differences of the bytes `back` apart, from byte `from` on, shared among threads.
void Differences(const uint8_t* raw, uint8_t* plane, uint32_t back, uint32_t from,
                 uint32_t totalBytes, uint32_t threads) {
    ForEachRange(threads, totalBytes - from, kGrainBytes, [&](size_t begin, size_t end) {
        ByteDifferences(raw, plane, back, from + begin, from + end);
    });
}

// A searched plane: its image bytes are all written by the caller, its tail is zero. Not cleared
// beforehand, which would only touch every page twice.
LargeBuffer NewPlane(uint32_t totalBytes) {
    LargeBuffer plane = AllocateLarge(size_t{totalBytes} + kPlaneTail);
    std::fill_n(plane.get() + totalBytes, kPlaneTail, 0);
    return plane;
}

LargeBuffer VerticalPlane(const uint8_t* raw, uint32_t rowBytes, uint32_t totalBytes,
                          uint32_t threads) {
    auto plane = NewPlane(totalBytes);
    std::copy_n(raw, rowBytes, plane.get());
    Differences(raw, plane.get(), rowBytes, rowBytes, totalBytes, threads);
    return plane;
}

// Horizontal differences run across row ends: a row's first pixel against the last one above.
LargeBuffer HorizontalPlane(const uint8_t* raw, uint32_t totalBytes, uint32_t threads) {
    auto plane = NewPlane(totalBytes);
    std::copy_n(raw, std::min<uint32_t>(3, totalBytes), plane.get());
    Differences(raw, plane.get(), 3, std::min<uint32_t>(3, totalBytes), totalBytes, threads);
    return plane;
}

}  // namespace

void PngEncoder::SetCompressionLevel(int32_t level) {
    if (level < 0 || level > kMaxCompressionLevel) {
        throw EPngError(messages::kInvalidCompressionLevel);
    }
    compressionLevel_ = level;
}

void PngEncoder::CheckEncodable(const BitmapImage& image) {
    if (image.BitCount() != 24) throw EPngError(messages::kNotTrueColour);
    if (image.Width() == 0 || image.Height() == 0) throw EPngError(messages::kImageEmpty);
    if (uint64_t{3} * image.Width() * image.Height() > kMaxPlaneBytes) {
        throw EImageTooLarge(messages::kImageTooLargeToEncode);
    }
}

void PngEncoder::WriteImage(std::ostream& output, BitmapImage& image) {
    CheckEncodable(image);
    if (compressionLevel_ < 0 || compressionLevel_ > kMaxCompressionLevel) {
        throw EPngError(messages::kInvalidCompressionLevel);
    }
    counters_ = {};
    found_ = {};
    sideFile_.FreeSideFile();
    contextModelChosen_ = true;

    const uint32_t width = image.Width();
    const uint32_t rows = image.Height();
    const uint32_t rowBytes = 3 * width;
    const uint32_t totalBytes = rows * rowBytes;
    const uint32_t pixelCount = rows * width;

    // More threads than CPUs would only take turns on them, each bringing its own tables into
    // the caches: the work is shared among as many threads as there are CPUs to run them.
    const uint32_t threads = std::min(ResolveThreadCount(threadCount_), AvailableThreads());

    auto raw = NewPlane(totalBytes);
    // The transform's statistics come from the untransformed image; every plane from the result.
    transform_ = SelectColourTransform(image, std::span(raw.get(), totalBytes), threads);
    FillRawPlane(image, raw.get(), threads);

    LargeBuffer vertical;
    LargeBuffer horizontal;
    if (useVerticalPlane_) vertical = VerticalPlane(raw.get(), rowBytes, totalBytes, threads);
    if (useHorizontalPlane_) horizontal = HorizontalPlane(raw.get(), totalBytes, threads);

    // Room for two words per pixel, but only the pages the tokens reach are ever touched.
    auto tokens = std::make_unique_for_overwrite<uint16_t[]>(size_t{2} * pixelCount);
    uint32_t tokenCount = 0;
    const std::span<const uint8_t> rawPlane(raw.get(), totalBytes);
    // With threads to spare the residual plane, which the search does not need, is built beside
    // it, by one of its threads before it joins, in memory of its own.
    LargeBuffer residualBuffer;
    std::function<void()> residualAlongside;
    if (threads > 1) {
        residualBuffer = AllocateLarge(totalBytes);
        residualAlongside = [&] {
            contextModelChosen_ = BuildResidualPlane(rawPlane, rowBytes, rows,
                                                     std::span(residualBuffer.get(), totalBytes));
        };
    }
    {
        const MatchSettings settings{kChainLengthOfLevel[static_cast<size_t>(compressionLevel_)],
                                     useVerticalPlane_, useHorizontalPlane_, replaceShortMatches_};
        const SearchPlanes planes{raw.get(), vertical.get(), horizontal.get(), totalBytes};
        tokenCount = FindMatchesInParallel(planes, settings, threads, searchStretch_,
                                           std::span(tokens.get(), size_t{2} * pixelCount), found_,
                                           residualAlongside);
    }
    const std::span<const uint16_t> tokenList(tokens.get(), tokenCount);
    if (!residualBuffer) {
        // The difference planes are only searched. Their memory, already in the process, takes
        // the residual plane and the box numbers: fresh pages cost more to fault in than to
        // reuse. Every byte of these is written before it is read (box numbers of the listed
        // pixels only).
        residualBuffer = vertical ? std::move(vertical) : AllocateLarge(totalBytes);
        contextModelChosen_ = BuildResidualPlane(rawPlane, rowBytes, rows,
                                                 std::span(residualBuffer.get(), totalBytes));
    }
    vertical.reset();
    const std::span<uint8_t> residual(residualBuffer.get(), totalBytes);

    const LargeBuffer boxIndexBuffer =
        horizontal ? std::move(horizontal) : AllocateLarge(pixelCount);
    const std::span<uint8_t> boxIndexPlane(boxIndexBuffer.get(), pixelCount);
    ColourBoxTable boxes;
    const uint8_t* residualData = residual.data();
    auto values_of = [residualData](uint32_t pixel) { return residualData + size_t{3} * pixel; };
    // The listed pixels in pieces of the token list that threads take apart.
    const std::vector<TokenPlace> pieces = CutTokenList(tokenList, threads);
    const size_t pieceCount = pieces.size() - 1;
    const auto for_each_piece = [&](auto&& work) {
        ForEachRange(threads, pieceCount, 1, [&](size_t begin, size_t end) {
            for (size_t k = begin; k < end; ++k)
                work(k);
        });
    };
    const auto listed_in = [&](size_t k, auto&& visit) {
        ForEachListedPixel(
            tokenList.subspan(pieces[k].token, pieces[k + 1].token - pieces[k].token),
            replaceShortMatches_, visit, pieces[k].pixel);
    };
    // Usually few distinct triples carry all the listed pixels: partition those. Otherwise
    // (noise) partition the pixels themselves, with the same result. Each piece counts its own
    // triples; merged in order, they are what counting every pixel in turn gives.
    std::vector<DistinctTriples> counted(pieceCount, DistinctTriples(kMaxDistinctTriples));
    std::vector<uint8_t> fewInPiece(pieceCount, 1);
    for_each_piece([&](size_t k) {
        bool few = true;
        listed_in(k, [&](uint32_t pixel) { few = few && counted[k].Add(values_of(pixel)); });
        fewInPiece[k] = few ? 1 : 0;
    });
    DistinctTriples& triples = counted[0];
    bool fewTriples = fewInPiece[0] != 0;
    for (size_t k = 1; k < pieceCount; ++k)
        fewTriples = fewTriples && fewInPiece[k] != 0 && triples.Merge(counted[k]);
    counted.erase(counted.begin() + 1, counted.end());
    if (fewTriples) {
        triples.BuildColourBoxes(boxes);
        for_each_piece([&](size_t k) {
            listed_in(
                k, [&](uint32_t pixel) { boxIndexPlane[pixel] = triples.BoxOf(values_of(pixel)); });
        });
    } else {
        counted.clear();
        // Reserved for every pixel; only the pages of the pixels actually listed are touched.
        std::vector<uint64_t> listed;
        listed.reserve(pixelCount);
        ForEachListedPixel(tokenList, replaceShortMatches_, [&](uint32_t pixel) {
            listed.push_back(ColourBoxElement(pixel, values_of(pixel)));
        });
        BuildColourBoxes(listed, boxIndexPlane, boxes);
    }
    sideFile_.BuildSideFile(boxes);

    ChunkWriter chunks(output);
    chunks.WriteSignature();
    chunks.WriteChunk("IHDR", ImageHeaderData(width, rows));
    if (transform_.HasFirst()) {
        const std::array<uint8_t, 1> packed = {transform_.Packed()};
        chunks.WriteChunk("cmOd", packed);
    }
    if (!contextModelChosen_) chunks.WriteChunk("ncPr", {});

    const BlockEncoderInput input{tokenList,         boxIndexPlane, &boxes,
                                  residual,          rawPlane,      replaceShortMatches_,
                                  compressionLevel_, threads};
    BlockEncoder blocks(input, chunks, sideFile_, counters_, [this](uint32_t percent) {
        // The encoder reports progress but does not act on a cancel request.
        (void)ReportProgressPercent(percent > 100 ? 100 : percent);
    });
    blocks.WriteImageData();
    chunks.WriteChunk("IEND", {});
}

}  // namespace quenpix
