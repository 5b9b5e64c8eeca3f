// shot FILE.xwd [X Y W H]: describes a rectangle of a screenshot taken with xwd (the whole image
// by default), so that scenarios can check what a window shows without an image library.
// Prints: white=W (white pixels) ink=N (pixels not of the background, the commonest colour)
// colours=K (distinct colours) digest=H (of the pixels), then glyphs=G distinct=D: the ink split
// at empty columns into G pieces, D of them different (text in a real font gives different
// pieces; missing glyphs drawn as boxes give copies).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t bigEndian(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

int fail(const std::string& message) {
    std::fprintf(stderr, "shot: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 6) return fail("usage: shot FILE.xwd [X Y W H]");
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 100) return fail(std::string("not an xwd file: ") + argv[1]);

    uint32_t h[25];
    for (int k = 0; k < 25; ++k) h[k] = bigEndian(&data[4 * k]);
    const uint32_t headerSize = h[0], format = h[2], width = h[4], height = h[5], byteOrder = h[7];
    const uint32_t bitsPerPixel = h[11], bytesPerLine = h[12], ncolors = h[19];
    const uint32_t masks[3] = {h[14], h[15], h[16]};
    if (h[1] != 7 || format != 2 || (bitsPerPixel != 24 && bitsPerPixel != 32))
        return fail("only 24- or 32-bit ZPixmap xwd files are read");
    const std::size_t offset = headerSize + std::size_t{ncolors} * 12;
    const uint32_t bytesPerPixel = bitsPerPixel / 8;
    if (data.size() < offset + std::size_t{bytesPerLine} * height) return fail("truncated xwd file");

    long x0 = 0, y0 = 0, w = width, hgt = height;
    if (argc == 6) {
        x0 = std::atol(argv[2]);
        y0 = std::atol(argv[3]);
        w = std::atol(argv[4]);
        hgt = std::atol(argv[5]);
    }
    if (x0 < 0 || y0 < 0 || w <= 0 || hgt <= 0 || x0 + w > static_cast<long>(width) ||
        y0 + hgt > static_cast<long>(height))
        return fail("the rectangle leaves the image");

    // Each pixel as 0xRRGGBB, whatever the masks' order.
    auto pixel = [&](long x, long y) {
        const unsigned char* p = &data[offset + std::size_t(y) * bytesPerLine + std::size_t(x) * bytesPerPixel];
        uint32_t v = 0;
        for (uint32_t b = 0; b < bytesPerPixel; ++b) {
            uint32_t byte = p[byteOrder == 0 ? b : bytesPerPixel - 1 - b];
            v |= byte << (8 * b);
        }
        uint32_t rgb = 0;
        for (uint32_t mask : masks) {
            uint32_t shift = 0;
            while (mask != 0 && ((mask >> shift) & 1) == 0) ++shift;
            rgb = (rgb << 8) | (((v & mask) >> shift) & 0xFF);
        }
        return rgb;
    };

    std::map<uint32_t, long> counts;
    uint64_t digest = 0xcbf29ce484222325ULL;
    for (long y = y0; y < y0 + hgt; ++y) {
        for (long x = x0; x < x0 + w; ++x) {
            uint32_t rgb = pixel(x, y);
            ++counts[rgb];
            digest = (digest ^ rgb) * 0x100000001b3ULL;
        }
    }
    uint32_t background = counts.begin()->first;
    for (const auto& [rgb, n] : counts)
        if (n > counts[background]) background = rgb;
    const long white = counts.count(0xFFFFFF) ? counts[0xFFFFFF] : 0;

    long ink = 0;
    std::vector<bool> inkColumn(static_cast<std::size_t>(w), false);
    for (long y = y0; y < y0 + hgt; ++y) {
        for (long x = x0; x < x0 + w; ++x) {
            if (pixel(x, y) != background) {
                ++ink;
                inkColumn[static_cast<std::size_t>(x - x0)] = true;
            }
        }
    }

    // Pieces of ink between empty columns, each as its bitmap (ink or not) cropped to its columns.
    std::set<std::string> pieces;
    long glyphs = 0;
    for (long x = 0; x < w;) {
        if (!inkColumn[static_cast<std::size_t>(x)]) {
            ++x;
            continue;
        }
        long end = x;
        while (end < w && inkColumn[static_cast<std::size_t>(end)]) ++end;
        std::string bitmap;
        for (long y = y0; y < y0 + hgt; ++y)
            for (long c = x; c < end; ++c) bitmap += pixel(x0 + c, y) != background ? '#' : '.';
        bitmap += std::to_string(end - x);
        pieces.insert(bitmap);
        ++glyphs;
        x = end;
    }

    std::printf("white=%ld ink=%ld colours=%zu digest=%016llx glyphs=%ld distinct=%zu\n", white, ink, counts.size(),
                static_cast<unsigned long long>(digest), glyphs, pieces.size());
    return 0;
}
