// 8-bit RGB PNG files, through libpng.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Turns width x height RGB pixels upside down in place: GL's rows run bottom
// first, pictures' top first.
void flipRows(std::vector<uint8_t>& rgb, int width, int height);
// Writes width x height RGB pixels (top row first); *error names the file and the reason.
bool writePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error);
// Writes them through a temporary file beside `path`, moved into place when
// done (over a file there only with `force`), so that a failure leaves
// nothing and harms no file.
bool writePngFileSafely(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, bool force,
                        std::string* error);
