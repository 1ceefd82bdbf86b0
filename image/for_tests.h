// What the tests reach inside the image module: reading a PNG back. No program includes it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reads a PNG as 8-bit RGB (top row first); *error names the file and the reason.
bool readPngRgb(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb, std::string* error);
