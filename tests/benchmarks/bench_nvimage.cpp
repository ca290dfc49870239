// Packing, stream building and the preview beside the baselines they are measured against:
// a plain read of the same pixels, a bare decode and Qt's decode of the same picture.
#include "ringspicture.h"

#include <nvimage/nvimagefile.h>
#include <nvimage/picturepreview.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include <malloc.h>

using namespace NvImage;

// --- The heap's peak --------------------------------------------------------------------------
// malloc and its kin are replaced for the whole process (Qt's images, giflib, libpng and
// operator new all come here), count the bytes each block really takes and keep the peak, so
// that a benchmark can report the most heap its work held at once. Without glibc, or under
// a sanitizer that has its own allocator, nothing is counted.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NVLOGO_OWN_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define NVLOGO_OWN_ALLOCATOR 1
#endif
#if defined(__GLIBC__) && !defined(NVLOGO_OWN_ALLOCATOR)
#define NVLOGO_HEAP_WATCH 1
#endif

namespace {

std::atomic<qint64> heapInUse{0};
std::atomic<qint64> heapPeak{0};

} // namespace

#ifdef NVLOGO_HEAP_WATCH
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace {

void *counted(void *block)
{
    if (block) {
        const qint64 now = heapInUse += qint64(malloc_usable_size(block));
        qint64 peak = heapPeak.load(std::memory_order_relaxed);
        while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
        }
    }
    return block;
}

void uncount(void *block)
{
    if (block)
        heapInUse -= qint64(malloc_usable_size(block));
}

} // namespace

extern "C" {
void *malloc(size_t size)
{
    return counted(__libc_malloc(size));
}
void *calloc(size_t count, size_t size)
{
    return counted(__libc_calloc(count, size));
}
void *realloc(void *block, size_t size)
{
    uncount(block);
    void *moved = __libc_realloc(block, size);
    // A failed realloc keeps the old block.
    return counted(moved || size == 0 ? moved : block);
}
void free(void *block)
{
    uncount(block);
    __libc_free(block);
}
void *memalign(size_t alignment, size_t size)
{
    return counted(__libc_memalign(alignment, size));
}
void *aligned_alloc(size_t alignment, size_t size)
{
    return counted(__libc_memalign(alignment, size));
}
int posix_memalign(void **out, size_t alignment, size_t size)
{
    if (alignment % sizeof(void *) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *block = counted(__libc_memalign(alignment, size));
    if (!block)
        return ENOMEM;
    *out = block;
    return 0;
}
}
#endif

namespace {

// The heap above what was in use when it was made, at its peak since then.
class HeapPeak
{
public:
    HeapPeak()
        : m_start(heapInUse.load())
    {
        heapPeak = m_start;
    }
    qint64 bytes() const { return heapPeak.load() - m_start; }

private:
    qint64 m_start;
};

// Reports the peak heap of a benchmark's iterations in bytes a dot of the picture.
void setHeapCounter(benchmark::State &state, const HeapPeak &heap, qint64 dots)
{
#ifdef NVLOGO_HEAP_WATCH
    state.counters["heap_bytes_per_dot"] = double(heap.bytes()) / double(dots);
#else
    Q_UNUSED(state);
    Q_UNUSED(heap);
    Q_UNUSED(dots);
#endif
}

constexpr int Side = 2048;
// The 2048 x 2048 stream outgrows the default NV memory; speed is measured, not the limit.
constexpr qint64 LargeNvCapacity = qint64(1) << 30;

QImage makePicture()
{
    return ringsPicture(Side, Side, 40, 28);
}

// The largest picture FS q takes, in few colours, as logos are.
QImage makeLargestPicture()
{
    QImage image(MaxWidthDots, MaxHeightDots, QImage::Format_Indexed8);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(200, 30, 30), qRgb(0, 0, 160)});
    for (int y = 0; y < image.height(); ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x] = uchar(((x / 97 + y / 61) % 3 == 0)
                            + 2 * (std::hypot(x - 3000, y - 1100) < 900));
    }
    return image;
}

// The picture's rows as 8-bit LZW codes, a clear code each time the table is full.
QByteArray lzwCodes(const QImage &indexed)
{
    QByteArray data;
    quint32 bits = 0;
    int bitCount = 0;
    int codeSize = 9;
    const auto putCode = [&](int code) {
        bits |= quint32(code) << bitCount;
        bitCount += codeSize;
        while (bitCount >= 8) {
            data.append(char(bits & 0xff));
            bits >>= 8;
            bitCount -= 8;
        }
    };
    std::map<quint32, int> table;
    int next = 258;
    putCode(256);
    int prefix = -1;
    for (int y = 0; y < indexed.height(); ++y) {
        const uchar *line = indexed.constScanLine(y);
        for (int x = 0; x < indexed.width(); ++x) {
            const uchar c = line[x];
            if (prefix < 0) {
                prefix = c;
                continue;
            }
            const quint32 key = quint32(prefix) << 8 | c;
            const auto found = table.find(key);
            if (found != table.end()) {
                prefix = found->second;
                continue;
            }
            putCode(prefix);
            if (next == 4096) {
                putCode(256);
                table.clear();
                next = 258;
                codeSize = 9;
            } else {
                table[key] = next++;
                if (next > (1 << codeSize) && codeSize < 12)
                    ++codeSize;
            }
            prefix = c;
        }
    }
    putCode(prefix);
    putCode(257);
    if (bitCount > 0)
        data.append(char(bits & 0xff));
    return data;
}

// A plain GIF encoder (Qt writes no GIF): 8-bit LZW codes with a clear code when the table
// is full.
QByteArray encodeGif(const QImage &indexed)
{
    QByteArray out("GIF89a");
    const auto put16 = [&out](int v) {
        out.append(char(v & 0xff));
        out.append(char(v >> 8));
    };
    put16(indexed.width());
    put16(indexed.height());
    out.append("\xF7\x00\x00", 3);
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < indexed.colorCount() ? indexed.color(i) : 0;
        out.append(char(qRed(c)));
        out.append(char(qGreen(c)));
        out.append(char(qBlue(c)));
    }
    out.append(char(0x2C));
    put16(0);
    put16(0);
    put16(indexed.width());
    put16(indexed.height());
    out.append('\0');
    out.append(char(8));
    const QByteArray data = lzwCodes(indexed);
    for (qsizetype i = 0; i < data.size(); i += 255) {
        const qsizetype length = std::min<qsizetype>(255, data.size() - i);
        out.append(char(length));
        out.append(data.mid(i, length));
    }
    out.append('\0');
    out.append(char(0x3B));
    return out;
}

struct Fixture
{
    QTemporaryDir dir;
    QString jpegPath;
    QString largest[4]; // BMP, JPEG, GIF, PNG of 8184 x 2304
    PictureSurface surface;
};

Fixture *fixture = nullptr;

// With --benchmark_repetitions, the fastest run shows the cost least disturbed by other
// work on the machine.
double fastest(const std::vector<double> &runs)
{
    return *std::min_element(runs.begin(), runs.end());
}

void setPixelCounters(benchmark::State &state)
{
    const double pixels = double(Side) * Side;
    state.SetItemsProcessed(state.iterations() * qint64(pixels));
    state.counters["ns_per_pixel"]
            = benchmark::Counter(pixels * double(state.iterations()) * 1e-9,
                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PlainRead2048(benchmark::State &state)
{
    const QImage &image = fixture->surface.image();
    const int width = image.width();
    const int height = image.height();
    for (auto _ : state) {
        quint64 sum = 0;
        for (int y = 0; y < height; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < width; ++x)
                sum += line[x] & 0xff; // blue
        }
        benchmark::DoNotOptimize(sum);
    }
    setPixelCounters(state);
}
BENCHMARK(BM_PlainRead2048)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

void BM_PackPicture2048(benchmark::State &state)
{
    std::vector<uchar> dots(std::size_t(Side) * Side / 8);
    for (auto _ : state) {
        packPictureInto(fixture->surface, Side, Side / 8, dots.data());
        benchmark::DoNotOptimize(dots.data());
        benchmark::ClobberMemory();
    }
    setPixelCounters(state);
}
BENCHMARK(BM_PackPicture2048)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

void BM_DecodeJpeg2048(benchmark::State &state)
{
    for (auto _ : state) {
        QImageReader reader(fixture->jpegPath);
        QImage image = reader.read();
        if (image.isNull())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    setPixelCounters(state);
}
BENCHMARK(BM_DecodeJpeg2048)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);

// Load, draw, pack, write the scratch file and read it back, as the download does.
void BM_ScratchStreamJpeg2048(benchmark::State &state)
{
    PictureSurface surface;
    ImageSize size;
    ScratchFile scratch;
    for (auto _ : state) {
        WriteNvImageFile(scratch, {fixture->jpegPath}, surface, size, LargeNvCapacity);
        const QByteArray stream = ReadNvImageFile(scratch);
        if (stream.size() != 5 + 4 + Side * Side / 8)
            state.SkipWithError("wrong stream length");
        benchmark::DoNotOptimize(stream.constData());
    }
    setPixelCounters(state);
}
BENCHMARK(BM_ScratchStreamJpeg2048)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

void BM_MemoryStreamJpeg2048(benchmark::State &state)
{
    PictureSurface surface;
    for (auto _ : state) {
        const QByteArray stream = buildNvImageStream({fixture->jpegPath}, surface, LargeNvCapacity);
        benchmark::DoNotOptimize(stream.constData());
    }
    setPixelCounters(state);
}
BENCHMARK(BM_MemoryStreamJpeg2048)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

const char *const LargestFormats[] = {"bmp", "jpeg", "gif", "png"};
constexpr qint64 LargestDots = qint64(MaxWidthDots) * MaxHeightDots;

struct GifBytes
{
    const QByteArray *bytes;
    qint64 at;
};

extern "C" int readGifBytes(GifFileType *gif, GifByteType *out, int length)
{
    auto *input = static_cast<GifBytes *>(gif->UserData);
    const qint64 count = std::min<qint64>(length, input->bytes->size() - input->at);
    std::memcpy(out, input->bytes->constData() + input->at, std::size_t(count));
    input->at += count;
    return int(count);
}

// The least work that decodes the largest GIF once: giflib's rows of colour indexes into one
// reused row, nothing checked, nothing kept. The yardstick of the whole stream below.
void BM_BareDecodeLargestGif(benchmark::State &state)
{
    QFile file(fixture->largest[2]);
    if (!file.open(QIODevice::ReadOnly))
        state.SkipWithError("cannot read the GIF");
    const QByteArray bytes = file.readAll();
    std::vector<GifPixelType> row(MaxWidthDots);
    const HeapPeak heap;
    for (auto _ : state) {
        GifBytes input{&bytes, 0};
        int error = 0;
        GifFileType *gif = DGifOpen(&input, readGifBytes, &error);
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        bool decoded = gif && DGifGetRecordType(gif, &type) == GIF_OK
                       && type == IMAGE_DESC_RECORD_TYPE && DGifGetImageDesc(gif) == GIF_OK;
        for (int y = 0; decoded && y < MaxHeightDots; ++y)
            decoded = DGifGetLine(gif, row.data(), MaxWidthDots) == GIF_OK;
        if (!decoded)
            state.SkipWithError("giflib could not decode the GIF");
        DGifCloseFile(gif, &error);
        benchmark::DoNotOptimize(row.data());
    }
    setHeapCounter(state, heap, LargestDots);
}
BENCHMARK(BM_BareDecodeLargestGif)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

// Qt's own decode of the largest picture, the yardstick for the loader below.
void BM_QtDecodeLargest(benchmark::State &state)
{
    const QString &path = fixture->largest[state.range(0)];
    const HeapPeak heap;
    for (auto _ : state) {
        QImageReader reader(path);
        const QImage image = reader.read();
        if (image.isNull())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    setHeapCounter(state, heap, LargestDots);
    state.SetLabel(LargestFormats[state.range(0)]);
}
BENCHMARK(BM_QtDecodeLargest)
        ->DenseRange(0, 3)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

// inspectPicture and decodePicture, with every check on the picture's data.
void BM_LoadLargest(benchmark::State &state)
{
    const QString &path = fixture->largest[state.range(0)];
    for (auto _ : state) {
        const QImage image = decodePicture(inspectPicture(path));
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetLabel(LargestFormats[state.range(0)]);
}
BENCHMARK(BM_LoadLargest)
        ->DenseRange(0, 3)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

// The whole stream of the largest picture, built in memory as the command line builds it: the
// file read and checked, decoded, rasterised and encoded, with a fresh surface each time.
void BM_StreamLargest(benchmark::State &state)
{
    const QString &path = fixture->largest[state.range(0)];
    const HeapPeak heap;
    for (auto _ : state) {
        PictureSurface surface;
        const QByteArray stream = buildNvImageStream({path}, surface, LargeNvCapacity);
        if (stream.size()
            != NvStreamHeaderSize + EscPos::nvBitImageRecordSize(MaxWidthDots, MaxHeightDots))
            state.SkipWithError("wrong stream length");
        benchmark::DoNotOptimize(stream.constData());
    }
    setHeapCounter(state, heap, LargestDots);
    state.SetLabel(LargestFormats[state.range(0)]);
}
BENCHMARK(BM_StreamLargest)
        ->DenseRange(0, 3)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

// The same through the scratch file, as the window's download writes and reads it back.
void BM_ScratchStreamLargest(benchmark::State &state)
{
    const QString &path = fixture->largest[state.range(0)];
    const HeapPeak heap;
    for (auto _ : state) {
        PictureSurface surface;
        ImageSize size;
        ScratchFile scratch;
        WriteNvImageFile(scratch, {path}, surface, size, LargeNvCapacity);
        const QByteArray stream = ReadNvImageFile(scratch);
        if (stream.size()
            != NvStreamHeaderSize + EscPos::nvBitImageRecordSize(MaxWidthDots, MaxHeightDots))
            state.SkipWithError("wrong stream length");
        benchmark::DoNotOptimize(stream.constData());
    }
    setHeapCounter(state, heap, LargestDots);
    state.SetLabel(LargestFormats[state.range(0)]);
}
BENCHMARK(BM_ScratchStreamLargest)
        ->DenseRange(0, 3)
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

// How soon a stop is noticed: the longest time between two questions of the stop check
// while the whole stream of the largest picture is built, dithered (the most work a row).
void BM_StopGapLargest(benchmark::State &state)
{
    const QString &path = fixture->largest[state.range(0)];
    double longest = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        const StopCheck stop = [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, double(now - last) / 1e6);
            last = now;
            return false;
        };
        PictureSurface surface;
        ImageSize size;
        StreamOptions options;
        options.nvCapacity = LargeNvCapacity;
        options.preparation.conversion = Conversion::Dither;
        options.stop = stop;
        const QByteArray stream = buildNvImageStream({path}, surface, size, options);
        longest = std::max(longest, double(clock.nsecsElapsed() - last) / 1e6);
        benchmark::DoNotOptimize(stream.constData());
    }
    state.counters["longest_gap_ms"] = longest;
    state.SetLabel(LargestFormats[state.range(0)]);
}
BENCHMARK(BM_StopGapLargest)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// What the Open dialog's pane does for one picture: the record built as the download builds
// it, drawn back, and the warnings; by the blue rule (0) and dithered (1).
void BM_PreviewLargest(benchmark::State &state)
{
    const QString &path = fixture->largest[state.range(0)];
    const auto conversion = state.range(1) ? Conversion::Dither : Conversion::BlueRule;
    const HeapPeak heap;
    for (auto _ : state) {
        const PicturePreview preview = previewPicture(path, conversion);
        if (preview.sizeDots != QSize(MaxWidthDots, MaxHeightDots))
            state.SkipWithError("wrong preview size");
        benchmark::DoNotOptimize(preview.dots.constBits());
    }
    setHeapCounter(state, heap, LargestDots);
    state.SetLabel(
            QStringLiteral("%1 %2")
                    .arg(QLatin1String(LargestFormats[state.range(0)]), conversionLabel(conversion))
                    .toStdString());
}
BENCHMARK(BM_PreviewLargest)
        ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", fastest);

// The sizes of a selection from the headers alone, as the pane sums them.
void BM_StreamSizeLargest(benchmark::State &state)
{
    const QStringList paths(std::begin(fixture->largest), std::end(fixture->largest));
    for (auto _ : state)
        benchmark::DoNotOptimize(nvStreamSize(paths));
}
BENCHMARK(BM_StreamSizeLargest)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    Fixture f;
    fixture = &f;
    const QImage picture = makePicture();
    f.jpegPath = f.dir.filePath(QStringLiteral("picture.jpg"));
    if (!f.dir.isValid() || !picture.save(f.jpegPath, "JPEG", 90)) {
        fprintf(stderr, "cannot write the test JPEG\n");
        return 1;
    }
    f.surface.drawPicture(picture);

    const QImage largest = makeLargestPicture();
    for (int i = 0; i < 4; ++i) {
        f.largest[i] = f.dir.filePath(
                QStringLiteral("largest.%1").arg(QLatin1String(LargestFormats[i])));
        QFile file(f.largest[i]);
        const bool written
                = i == 2 ? file.open(QIODevice::WriteOnly) && file.write(encodeGif(largest)) > 0
                         : largest.save(f.largest[i], LargestFormats[i], 90);
        if (!written) {
            fprintf(stderr, "cannot write the largest %s\n", LargestFormats[i]);
            return 1;
        }
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
