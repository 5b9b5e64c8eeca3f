#include "picture.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "field.h"
#include "renderer.h"

// The writer alone, into memory: the file is written here, through a temporary name.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

std::string cannotWrite(const std::string& path, const std::string& why) {
    return "cannot write '" + path + "': " + why;
}

// Beside the picture, so that the rename stays within one file system.
std::string temporaryPath(const std::string& path) { return path + ".part"; }

// The picture's temporary file, opened for writing; nullptr, with the reason in error, if it cannot be.
std::FILE* openTemporary(const std::string& path, const std::string& temporary, std::string& error) {
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) error = cannotWrite(path, std::strerror(errno));
    return file;
}

void appendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<unsigned char>*>(context);
    auto* first = static_cast<const unsigned char*>(data);
    bytes->insert(bytes->end(), first, first + size);
}

}  // namespace

bool parseFramePattern(const std::string& text, FramePattern& pattern, std::string& error) {
    pattern = FramePattern{};
    bool found = false;
    std::string* part = &pattern.before;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *part += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool zero = j < text.size() && text[j] == '0';
        if (zero) ++j;
        int width = 0;
        for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j) {
            width = width * 10 + (text[j] - '0');
            if (width > 20) {
                error = "the frame number's width in '" + text + "' is over 20";
                return false;
            }
        }
        if (j >= text.size() || text[j] != 'd') {
            error = "'" + text + "' may hold only %d (as %d, %5d or %05d) and %%";
            return false;
        }
        if (found) {
            error = "'" + text + "' has more than one %d";
            return false;
        }
        found = true;
        pattern.width = width;
        pattern.zeroPadded = zero;
        part = &pattern.after;
        i = j;
    }
    if (!found) error = "'" + text + "' needs a %d for the frame number";
    return found;
}

std::string framePath(const FramePattern& pattern, long long n) {
    std::string number = std::to_string(n);
    std::size_t width = static_cast<std::size_t>(pattern.width);
    if (number.size() < width) {
        number.insert(0, width - number.size(), pattern.zeroPadded ? '0' : ' ');
    }
    return pattern.before + number + pattern.after;
}

FieldImage drawFieldImage() {
    FieldImage image;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = BACK_BUFFER_WIDTH;
    info.bmiHeader.biHeight = -BACK_BUFFER_HEIGHT;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // A DIB section: pixels the program can read, and no display needed to draw them.
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    if (bitmap != nullptr && dc != nullptr && bits != nullptr) {
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        RECT area{0, 0, BACK_BUFFER_WIDTH, BACK_BUFFER_HEIGHT};
        paintField(dc, area);
        GdiFlush();
        const auto* words = static_cast<const uint32_t*>(bits);
        image.width = BACK_BUFFER_WIDTH;
        image.height = BACK_BUFFER_HEIGHT;
        image.pixels.assign(words, words + static_cast<std::size_t>(image.width) * image.height);
        // The top byte is not part of the colour.
        for (uint32_t& pixel : image.pixels) pixel &= 0x00FFFFFFu;
        SelectObject(dc, oldBitmap);
    }
    if (dc != nullptr) DeleteDC(dc);
    if (bitmap != nullptr) DeleteObject(bitmap);
    return image;
}

std::vector<unsigned char> encodePng(const FieldImage& image) {
    std::vector<unsigned char> rgb;
    rgb.reserve(image.pixels.size() * 3);
    for (uint32_t pixel : image.pixels) {
        rgb.push_back(static_cast<unsigned char>(pixel >> 16));
        rgb.push_back(static_cast<unsigned char>(pixel >> 8));
        rgb.push_back(static_cast<unsigned char>(pixel));
    }
    std::vector<unsigned char> png;
    if (image.width <= 0 || image.height <= 0 ||
        stbi_write_png_to_func(appendBytes, &png, image.width, image.height, 3, rgb.data(), image.width * 3) == 0) {
        png.clear();
    }
    return png;
}

bool checkPicturePath(const std::string& path, std::string& error) {
    std::error_code ignored;
    if (path.empty()) {
        error = "a picture needs a file name";
        return false;
    }
    if (std::filesystem::is_directory(path, ignored)) {
        error = cannotWrite(path, "it is a folder");
        return false;
    }
    const std::string temporary = temporaryPath(path);
    std::FILE* file = openTemporary(path, temporary, error);
    if (file == nullptr) return false;
    std::fclose(file);
    std::remove(temporary.c_str());
    return true;
}

bool writeFieldPicture(const std::string& path, std::string& error) {
    std::vector<unsigned char> png = encodePng(drawFieldImage());
    if (png.empty()) {
        error = cannotWrite(path, "the picture could not be drawn");
        return false;
    }
    const std::string temporary = temporaryPath(path);
    std::FILE* file = openTemporary(path, temporary, error);
    if (file == nullptr) return false;
    bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    int why = errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        why = errno;
    }
    if (!written) {
        std::remove(temporary.c_str());
        error = cannotWrite(path, std::strerror(why));
        return false;
    }
    // Replaces an older picture of that name in one step, on Windows too.
    std::error_code renamed;
    std::filesystem::rename(temporary, path, renamed);
    if (renamed) {
        std::remove(temporary.c_str());
        error = cannotWrite(path, renamed.message());
        return false;
    }
    return true;
}

bool checkPictures(const PictureRequest& request, std::string& error) {
    if (!request.finalPath.empty() && !checkPicturePath(request.finalPath, error)) return false;
    return request.every <= 0 || checkPicturePath(framePath(request.frames, 0), error);
}

bool writeDueFrame(const PictureRequest& request, long long tick, std::string& error) {
    if (request.every <= 0 || tick % request.every != 0) return true;
    return writeFieldPicture(framePath(request.frames, tick / request.every), error);
}

bool writeFinalPicture(const PictureRequest& request, std::string& error) {
    return request.finalPath.empty() || writeFieldPicture(request.finalPath, error);
}
