// 8-bit RGB PNG files, through libpng.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Writes width x height RGB pixels (top row first); *error names the file and the reason.
bool writePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error);
// Reads a PNG as 8-bit RGB (top row first); *error names the file and the reason.
bool readPngRgb(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb, std::string* error);
