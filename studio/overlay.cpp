// The overlay: the status lines and the latest message, over the picture.
#include "image/png_file.h"
#include "image/text.h"
#include "studio/studio.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

static constexpr uint8_t OVERLAY_INK = 235;
static constexpr int64_t BANNER_MS = 4000; // how long a message stays on the overlay

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void say(Studio& s, const std::string& message)
{
    std::fprintf(stderr, "vantrop-studio: %s\n", message.c_str());
    s.banner = message;
    s.bannerUntilMs = nowMs() + BANNER_MS;
}

static std::string clockText(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

static const char* sectionAt(const ScheduleValues& schedule, float beat)
{
    const char* name = SHOW_SECTIONS[0].name;
    for (int i = 0; i < SHOW_SECTION_COUNT; ++i)
        if (beat >= sectionStartBeat(schedule, i)) name = SHOW_SECTIONS[i].name;
    return name;
}

std::vector<std::string> statusLines(const Transport& t, const Studio& s, double fps, double frameMs,
                                     int previewSetting)
{
    const float beat = computeFrameParams(s.schedule, t.positionMs).beat;
    const int bar = int(std::floor(beat / float(BEATS_PER_BAR))) + 1,
              beatInBar = int(std::floor(beat)) % BEATS_PER_BAR + 1;
    char line[160];
    std::vector<std::string> lines;
    std::snprintf(line, sizeof line, "%s  beat %.2f  bar %d.%d  %s", clockText(t.positionMs).c_str(), double(beat), bar,
                  beatInBar, sectionAt(s.schedule, beat));
    lines.push_back(line);
    const std::string loop =
        t.looping ? "  LOOP " + clockText(t.loopInMs) + " - " + clockText(t.loopOutMs) : std::string();
    std::string exporting =
        exportRunning(s) ? "  EXPORTING " + std::to_string(s.exporting.percent) + "%" : std::string();
    if (flashCheckRunning(s)) exporting += "  CHECKING FLASHES " + std::to_string(s.flashCheck.percent) + "%";
    std::snprintf(line, sizeof line, "%.1f fps  %.0f ms  %s%s  preview 1/%d%s%s", fps, frameMs, transportStateText(t),
                  loop.c_str(), s.scale, previewSetting == AUTO_PREVIEW ? " auto" : "", exporting.c_str());
    lines.push_back(line);
    if (s.parameters) {
        // The uniform m as the shader gets it: m[0] and m[1].
        const FrameParams p = computeFrameParams(s.schedule, t.positionMs);
        std::snprintf(line, sizeof line, "m0  time %.3f  finale %.3f  glitch %.3f  spare %.3f", double(p.time),
                      double(p.finale), double(p.glitch), double(p.spare));
        lines.push_back(line);
        std::snprintf(line, sizeof line, "m1  beat %.3f  hit %.3f  warp %.3f  pulse %.3f", double(p.beat),
                      double(p.hit), double(p.warp), double(p.pulseGain));
        lines.push_back(line);
    }
    return lines;
}

// The line cut into pieces of at most `columns` characters, at spaces where it has them.
static std::vector<std::string> wrapped(const std::string& line, size_t columns)
{
    std::vector<std::string> pieces;
    std::string rest = line;
    while (rest.size() > columns) {
        const size_t space = rest.rfind(' ', columns);
        const size_t cut = space == std::string::npos || space == 0 ? columns : space;
        pieces.push_back(rest.substr(0, cut));
        rest = rest.substr(rest[cut] == ' ' ? cut + 1 : cut);
    }
    pieces.push_back(rest);
    return pieces;
}

void drawOverlay(Studio& s, const std::vector<std::string>& lines)
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window, &w, &h);
    // The text's scale follows the window's size, as the panel's does; a
    // line longer than the window is wrapped, never cut off.
    const int scale = panelLayout(s).unit;
    const size_t columns = size_t(std::max((w - 8) / (GLYPH_ADVANCE * scale), 1));
    std::vector<std::string> all;
    for (const std::string& line : lines)
        for (const std::string& piece : wrapped(line, columns)) all.push_back(piece);
    if (!s.banner.empty() && nowMs() < s.bannerUntilMs)
        for (const std::string& piece : wrapped(s.banner.substr(0, s.banner.find('\n')), columns)) all.push_back(piece);
    size_t longest = 0;
    for (const std::string& line : all) longest = std::max(longest, line.size());
    const int lineHeight = (GLYPH_HEIGHT + 2) * scale;
    const int bandWidth = std::min(w, int(longest) * GLYPH_ADVANCE * scale + 8);
    const int bandHeight = std::min(h, int(all.size()) * lineHeight + 6);
    if (bandWidth <= 0 || bandHeight <= 0) return;
    std::vector<uint8_t> rgb(size_t(bandWidth) * size_t(bandHeight) * 3, 0);
    for (size_t i = 0; i < all.size(); ++i)
        drawText(rgb, bandWidth, bandHeight, 4, 4 + int(i) * lineHeight, all[i], scale, OVERLAY_INK);
    flipRows(rgb, bandWidth, bandHeight);
    s.gl.glUseProgram(0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    s.gl.glWindowPos2i(0, h - bandHeight);
    glDrawPixels(bandWidth, bandHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
}
