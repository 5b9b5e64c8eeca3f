// Pictures of the field as the program draws it (its renderer, into a 1050 x 700 drawing), as
// PNG files: one after the run, and a numbered series every K ticks for a film.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A file name with one "%d" (a width and a 0 flag allowed, "%%" for a percent sign) that a
// frame's number goes into.
struct FramePattern {
    std::string before;
    std::string after;
    int width = 0;
    bool zeroPadded = false;
};

// False, with the reason in error, when the text is not such a pattern.
bool parseFramePattern(const std::string& text, FramePattern& pattern, std::string& error);
// The file name of frame n.
std::string framePath(const FramePattern& pattern, long long n);

// The field now, drawn as the window draws it, in 0x00RRGGBB pixels row after row.
struct FieldImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};
FieldImage drawFieldImage();

// The image as a PNG file's bytes (8-bit RGB).
std::vector<unsigned char> encodePng(const FieldImage& image);

// Whether path can take a picture, asked before a run: its folder exists and takes a new file,
// and the path is no folder. False with a one-line reason in error.
bool checkPicturePath(const std::string& path, std::string& error);
// Draws the field and writes it to path through a temporary file beside it, renamed when
// complete, so that a failed write leaves no file that looks like a picture.
bool writeFieldPicture(const std::string& path, std::string& error);

// The pictures a run asks for: --png FILE after it, --png-every K PATTERN along it (frame n
// after n * K ticks, frame 0 before the first tick).
struct PictureRequest {
    std::string finalPath;
    long long every = 0;
    FramePattern frames;
};

// Before the run: the final picture and the first frame can be written.
bool checkPictures(const PictureRequest& request, std::string& error);
// After tick (0: before the first tick): the frame due then, if one is.
bool writeDueFrame(const PictureRequest& request, long long tick, std::string& error);
// After the run: the final picture, if one was asked for.
bool writeFinalPicture(const PictureRequest& request, std::string& error);
