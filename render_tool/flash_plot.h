// The photosensitivity check as a picture: flashes a second and the mean
// luminance over time, the threshold marked, the failing seconds and the
// show's sections shaded and named.
#pragma once
#include "flashes/flashes.h"
#include "timeline/timeline.h"

#include <cstdint>
#include <string>
#include <vector>

// Writes the plot of `seconds` (a frame each from fromMs at fps) as a PNG
// file, moved into place when complete (over a file there only with
// `force`); false with *error.
bool writeFlashPlot(const std::string& path, const std::vector<FlashSecond>& seconds, uint32_t fromMs, uint32_t fps,
                    const ScheduleValues& schedule, bool force, std::string* error);
