#include "image/png_file.h"

#include "files/output_file.h"
#include "image/for_tests.h"

#include <algorithm>

#include <png.h>

#include <cerrno>
#include <cstring>

bool writePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGB;
    errno = 0;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), width * 3, nullptr)) {
        *error = "cannot write " + path + ": " + (errno ? std::strerror(errno) : image.message) +
            " (check that the folder exists and is writable)";
        png_image_free(&image);
        return false;
    }
    return true;
}

bool readPngRgb(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb, std::string* error)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = "cannot read " + path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        *error = "cannot decode " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    width = int(image.width);
    height = int(image.height);
    return true;
}

void flipRows(std::vector<uint8_t>& rgb, int width, int height)
{
    const size_t stride = size_t(width) * 3;
    for (int y = 0; y < height / 2; ++y)
        std::swap_ranges(rgb.begin() + std::ptrdiff_t(size_t(y) * stride),
                         rgb.begin() + std::ptrdiff_t(size_t(y + 1) * stride),
                         rgb.begin() + std::ptrdiff_t(size_t(height - 1 - y) * stride));
}

bool writePngFileSafely(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, bool force,
                        std::string* error)
{
    const std::string temporary = makeTemporaryBeside(path, ".png", error);
    if (temporary.empty()) return false;
    if (!writePngRgb(temporary, width, height, rgb, error)) {
        std::remove(temporary.c_str());
        *error += " (writing " + path + ")";
        return false;
    }
    return finishOutput(temporary, path, force, error);
}
