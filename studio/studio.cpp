// vantrop-studio: the show in a resizable window for the people who edit it:
// the shader reloads when its files change, and the music can be paused,
// stepped by beats and bars, shuttled and looped while the picture follows it.
#define GL_GLEXT_PROTOTYPES
#include "cli/command_line.h"
#include "files/output_file.h"
#include "image/png_file.h"
#include "image/text.h"
#include "music/music.h"
#include "render/renderer.h"
#include "shaders/pack.h"
#include "studio/transport.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <SDL.h>
#include <sys/stat.h>
#include <time.h>

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

static constexpr int DEFAULT_WIDTH = 1280, DEFAULT_HEIGHT = 720; // the window at start, pixels
static constexpr int ASPECT_W = 16, ASPECT_H = 9;
// How often the shader files are looked at, and how often the title is redrawn, milliseconds.
static constexpr int64_t SHADER_POLL_MS = 100;
static constexpr int64_t TITLE_EVERY_MS = 100;
// Preview scale: `auto` draws at the largest fraction of the window that keeps
// a moving picture's frames under this, and at full size once paused.
static constexpr double AUTO_PREVIEW_FRAME_MS = 50.0;
static constexpr int PREVIEW_SCALES[] = {1, 2, 4};
static constexpr int AUTO_PREVIEW = 0;
static constexpr int OVERLAY_SCALE = 2; // screen pixels per font pixel
static constexpr uint8_t OVERLAY_INK = 235;
static constexpr int64_t BANNER_MS = 4000; // how long a message stays on the overlay

static const char* const HELP =
    "usage: vantrop-studio [--size WxH] [--music FILE] [--from MS] [--loop A B] [--paused]\n"
    "                      [--shaders DIR] [--preview 1|2|4|auto]\n"
    "\n"
    "Plays the vantrop show in a resizable window (no display mode change), with\n"
    "the music, for editing it: the shader is repacked and rebuilt whenever a file\n"
    "in its folder changes; a broken edit keeps the last good picture and names\n"
    "the readable file and line. The picture is always the one the show draws at\n"
    "the music's position.\n"
    "\n"
    "  --size WxH     the window's size at start, 16:9 (default 1280x720)\n"
    "  --music FILE   the music (default lomu_hmm.mp3 in the working directory)\n"
    "  --from MS      start at this position, milliseconds\n"
    "  --loop A B     loop from A to B milliseconds\n"
    "  --paused       start paused\n"
    "  --shaders DIR  the readable shader sources (default: those the build used)\n"
    "  --preview S    draw at 1/S of the window's size and scale up; auto keeps\n"
    "                 moving frames under 50 ms and draws full size when paused\n"
    "\n"
    "keys:\n"
    "  Space          pause / play (the sound resumes at the same sample)\n"
    "  Left, Right    one beat back / ahead; with Shift one bar (4 beats)\n"
    "  PgUp, PgDn     8 bars back / ahead\n"
    "  Home           the start\n"
    "  J, K, L        back / stop / ahead; each further L doubles the speed up to\n"
    "                 8x (sound only at 1x)\n"
    "  [, ]           loop in / out at the current position\n"
    "  Backspace      clear the loop\n"
    "  1 to 8         the start of the show's sections, in order\n"
    "  P              cycle the preview scale (1, 2, 4, auto)\n"
    "  Tab            show / hide the overlay\n"
    "  F12            save the frame as drawn to a new vantrop-studio-MS.png here\n"
    "                 (MS-2, MS-3... when taken)\n"
    "  Esc            quit\n";

struct StudioOptions {
    int width = DEFAULT_WIDTH, height = DEFAULT_HEIGHT;
    std::string music = MUSIC_FILE_NAME, shaders = VANTROP_SHADERS_DIR;
    uint32_t from = 0, loopIn = 0, loopOut = 0;
    bool loop = false, paused = false;
    int preview = AUTO_PREVIEW;
};

// What a look at a shader file sees: any change of it, its permissions
// included, differs here (a chmod changes the inode's time, not the file's).
struct FileStamp {
    int64_t modifiedNs = 0, changedNs = 0, size = -1;
    uint64_t inode = 0;
    uint32_t mode = 0;
    bool operator==(const FileStamp&) const = default;
};

// What the studio draws with: the window, the offscreen picture, the shader's state.
struct Studio {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    GLuint framebuffer = 0, picture = 0;
    int drawWidth = 0, drawHeight = 0; // the picture's size: the window's 16:9 box divided by the scale
    int scale = 1;
    ShaderFiles files;
    std::vector<FileStamp> shaderStamps;
    ShaderSources good; // the sources of the programs drawing now, repacked when the picture's size changes
    bool haveProgram = false;
    std::string banner;
    int64_t bannerUntilMs = 0;
    int64_t reloadSavedAtNs = 0; // when the edit that was just rebuilt was saved; 0 when none waits to be shown
    bool overlay = true;
};

static const char* const PROGRAM = "vantrop-studio";

// -1: go on; otherwise the exit status.
static int parseOptions(int argc, char** argv, StudioOptions& o)
{
    std::vector<std::string> seen;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (optionRepeated(PROGRAM, seen, arg)) return EXIT_USAGE;
        if (isHelp(argv[i])) {
            std::fputs(HELP, stdout);
            return 0;
        }
        if (isVersion(argv[i])) {
            std::printf("vantrop-studio %s\n", VANTROP_VERSION);
            return 0;
        }
        if (arg == "--paused") {
            o.paused = true;
        } else if (arg == "--size" && hasValue) {
            if (!parseSize(argv[++i], o.width, o.height, &error)) return usageError(PROGRAM, error);
        } else if (arg == "--music" && hasValue) {
            o.music = argv[++i];
        } else if (arg == "--shaders" && hasValue) {
            o.shaders = argv[++i];
        } else if (arg == "--from" && hasValue) {
            if (!parsePosition(argv[++i], o.from)) return usageError(PROGRAM, "bad --from: give whole milliseconds");
        } else if (arg == "--loop" && i + 2 < argc) {
            if (!parsePosition(argv[i + 1], o.loopIn) || !parsePosition(argv[i + 2], o.loopOut) ||
                o.loopOut <= o.loopIn)
                return usageError(PROGRAM,
                                  "bad --loop: give two positions in milliseconds, the first before the second");
            o.loop = true;
            i += 2;
        } else if (arg == "--preview" && hasValue) {
            const std::string s = argv[++i];
            if (s == "auto")
                o.preview = AUTO_PREVIEW;
            else if (s == "1" || s == "2" || s == "4")
                o.preview = std::atoi(s.c_str());
            else
                return usageError(PROGRAM, "bad --preview '" + s + "': give 1, 2, 4 or auto");
        } else {
            return usageError(PROGRAM, "unknown argument or missing value: '" + arg + "'");
        }
    }
    return -1;
}

static int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static void say(Studio& s, const std::string& message)
{
    std::fprintf(stderr, "vantrop-studio: %s\n", message.c_str());
    s.banner = message;
    s.bannerUntilMs = nowMs() + BANNER_MS;
}

static std::vector<FileStamp> fileStamps(const ShaderFiles& files)
{
    std::vector<std::string> paths = files.functions;
    paths.push_back(files.vertex);
    paths.push_back(files.main);
    std::vector<FileStamp> stamps;
    for (const std::string& path : paths) {
        struct stat info {};
        FileStamp stamp;
        if (stat(path.c_str(), &info) == 0)
            stamp = {info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec,
                     info.st_ctim.tv_sec * 1000000000 + info.st_ctim.tv_nsec, int64_t(info.st_size),
                     uint64_t(info.st_ino), uint32_t(info.st_mode)};
        stamps.push_back(stamp);
    }
    return stamps;
}

// The driver's log with each "0:1(COLUMN)" of the packed single line turned
// into the readable file and line it came from.
static std::string readableLog(const PackedShaders& packed, const std::string& log, bool vertex)
{
    std::string out;
    size_t at = 0;
    while (at < log.size()) {
        const size_t marker = log.find("0:1(", at);
        if (marker == std::string::npos) break;
        const size_t close = log.find(')', marker);
        if (close == std::string::npos) break;
        out += log.substr(at, marker - at);
        const size_t column = size_t(std::strtoul(log.c_str() + marker + 4, nullptr, 10));
        const std::string where = readableLocation(packed, column > 0 ? column - 1 : 0, vertex);
        out += where.empty() ? log.substr(marker, close + 1 - marker) : where;
        at = close + 1;
    }
    return out + log.substr(at);
}

static void* lookup(const char* name)
{
    return SDL_GL_GetProcAddress(name);
}

// Packs these sources for the picture's size and builds the programs; on a
// failure the last good programs stay (the renderer keeps them) and the
// message says where, in the readable files.
static bool buildShader(Studio& s, const ShaderSources& sources)
{
    PackedShaders packed;
    std::string error;
    std::set<std::string> all;
    for (const std::string& name : optimisationNames()) all.insert(name);
    bool built = packShaders(sources, all, s.drawWidth, s.drawHeight, packed, &error);
    if (built) {
        const char* programs[PROGRAM_VARIANTS];
        for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) programs[mask] = packed.specialised[mask].c_str();
        built = initRendererFromSources(lookup, packed.vertex.c_str(), programs, &error);
        // The driver's log is about the user's edit, not the driver: keep the log alone.
        if (const size_t log = error.find(":\n"); !built && log != std::string::npos)
            error = readableLog(packed, error.substr(log + 2), error.find("vertex shader") < log);
    }
    if (!built) {
        say(s,
            (s.haveProgram ? "the shader did not build; drawing the last good one: " : "the shader did not build: ") +
                error);
        return false;
    }
    s.haveProgram = true;
    if (&sources != &s.good) s.good = sources;
    return true;
}

// Reads the shader folder once and builds what it holds.
static bool reloadShader(Studio& s)
{
    ShaderSources sources;
    std::string error;
    if (!readShaderSources(s.files, sources, &error)) {
        say(s, (s.haveProgram ? "the shader was not rebuilt; drawing the last good one: " : "") + error);
        return false;
    }
    return buildShader(s, sources);
}

// The window's 16:9 box (letterboxed), in window pixels: x, y, width, height.
static void pictureBox(SDL_Window* window, int box[4])
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    int bw = w, bh = w * ASPECT_H / ASPECT_W;
    if (bh > h) bh = h, bw = h * ASPECT_W / ASPECT_H;
    box[0] = (w - bw) / 2;
    box[1] = (h - bh) / 2;
    box[2] = std::max(bw, ASPECT_W);
    box[3] = std::max(bh, ASPECT_H);
}

// Sizes the offscreen picture for the window and the scale; rebuilds the shader when the size changed.
static void fitPicture(Studio& s)
{
    int box[4];
    pictureBox(s.window, box);
    const int width = std::max(box[2] / s.scale, ASPECT_W), height = std::max(box[3] / s.scale, ASPECT_H);
    if (width == s.drawWidth && height == s.drawHeight) return;
    s.drawWidth = width;
    s.drawHeight = height;
    if (!s.framebuffer) {
        glGenFramebuffers(1, &s.framebuffer);
        glGenTextures(1, &s.picture);
    }
    glBindTexture(GL_TEXTURE_2D, s.picture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, s.picture, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // A new size repacks what is drawing now, never an edit that failed.
    if (s.haveProgram)
        buildShader(s, s.good);
    else
        reloadShader(s);
}

static std::string clockText(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

static const char* sectionAt(float beat)
{
    const char* name = SHOW_SECTIONS[0].name;
    for (const ShowSection& section : SHOW_SECTIONS)
        if (beat >= section.beat) name = section.name;
    return name;
}

// Time, beat, bar, section, frame rate, state: for the title and the overlay.
static std::vector<std::string> statusLines(const Transport& t, const Studio& s, double fps, double frameMs,
                                            int previewSetting)
{
    const float beat = computeFrameParams(t.positionMs).beat;
    const int bar = int(std::floor(beat / 4.0f)) + 1, beatInBar = int(std::floor(beat)) % 4 + 1;
    char line[160];
    std::vector<std::string> lines;
    std::snprintf(line, sizeof line, "%s  beat %.2f  bar %d.%d  %s", clockText(t.positionMs).c_str(), double(beat), bar,
                  beatInBar, sectionAt(beat));
    lines.push_back(line);
    std::snprintf(line, sizeof line, "%.1f fps  %.0f ms  %s%s  preview 1/%d%s", fps, frameMs, transportStateText(t),
                  t.looping ? "  LOOP" : "", s.scale, previewSetting == AUTO_PREVIEW ? " auto" : "");
    lines.push_back(line);
    return lines;
}

// Draws the overlay's lines at the top left of the window, on a dark band.
static void drawOverlay(Studio& s, const std::vector<std::string>& lines)
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window, &w, &h);
    std::vector<std::string> all = lines;
    if (!s.banner.empty() && nowMs() < s.bannerUntilMs) all.push_back(s.banner.substr(0, s.banner.find('\n')));
    size_t longest = 0;
    for (const std::string& line : all) longest = std::max(longest, line.size());
    const int lineHeight = (GLYPH_HEIGHT + 2) * OVERLAY_SCALE;
    const int bandWidth = std::min(w, int(longest) * GLYPH_ADVANCE * OVERLAY_SCALE + 8);
    const int bandHeight = std::min(h, int(all.size()) * lineHeight + 6);
    if (bandWidth <= 0 || bandHeight <= 0) return;
    std::vector<uint8_t> rgb(size_t(bandWidth) * size_t(bandHeight) * 3, 0);
    for (size_t i = 0; i < all.size(); ++i)
        drawText(rgb, bandWidth, bandHeight, 4, 4 + int(i) * lineHeight, all[i], OVERLAY_SCALE, OVERLAY_INK);
    flipRows(rgb, bandWidth, bandHeight);
    glUseProgram(0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glWindowPos2i(0, h - bandHeight);
    glDrawPixels(bandWidth, bandHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
}

// Snapshots at one position get numbered names rather than replace each other.
static constexpr int MAX_SNAPSHOT_NUMBER = 999;

// The picture as drawn, to a new PNG named by its position: written to a
// temporary file first and given a name nothing has yet, so that neither a
// full disk nor a second snapshot harms an earlier one.
static void saveFrame(Studio& s, uint32_t positionMs)
{
    std::vector<uint8_t> rgb(size_t(s.drawWidth) * size_t(s.drawHeight) * 3);
    glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, s.drawWidth, s.drawHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    flipRows(rgb, s.drawWidth, s.drawHeight);
    const std::string stem = "vantrop-studio-" + std::to_string(positionMs);
    std::string error;
    const std::string temporary = makeTemporaryBeside(stem + ".png", ".png", &error);
    if (temporary.empty() || !writePngRgb(temporary, s.drawWidth, s.drawHeight, rgb, &error)) {
        if (!temporary.empty()) std::remove(temporary.c_str());
        say(s, "the frame was not saved: " + error);
        return;
    }
    for (int number = 1; number <= MAX_SNAPSHOT_NUMBER && error.empty(); ++number) {
        std::string name = stem;
        if (number > 1) name += '-' + std::to_string(number);
        name += ".png";
        if (moveIntoPlaceIfNew(temporary, name, &error)) {
            say(s, "saved the frame to " + name);
            return;
        }
    }
    std::remove(temporary.c_str());
    say(s,
        "the frame was not saved: " +
            (error.empty() ? "there are " + std::to_string(MAX_SNAPSHOT_NUMBER) + " snapshots of " + stem +
                     " already; move some away"
                           : error));
}

static bool keyToTransport(SDL_Keycode key, bool shift, TransportKey& out)
{
    switch (key) {
    case SDLK_SPACE: out = TransportKey::PlayPause; return true;
    case SDLK_LEFT: out = shift ? TransportKey::BarBack : TransportKey::BeatBack; return true;
    case SDLK_RIGHT: out = shift ? TransportKey::BarAhead : TransportKey::BeatAhead; return true;
    case SDLK_PAGEUP: out = TransportKey::PhraseBack; return true;
    case SDLK_PAGEDOWN: out = TransportKey::PhraseAhead; return true;
    case SDLK_HOME: out = TransportKey::Home; return true;
    case SDLK_j: out = TransportKey::ShuttleBack; return true;
    case SDLK_k: out = TransportKey::ShuttleStop; return true;
    case SDLK_l: out = TransportKey::ShuttleAhead; return true;
    case SDLK_LEFTBRACKET: out = TransportKey::LoopIn; return true;
    case SDLK_RIGHTBRACKET: out = TransportKey::LoopOut; return true;
    case SDLK_BACKSPACE: out = TransportKey::ClearLoop; return true;
    default: return false;
    }
}

// Makes the music do what the transport asks.
static void follow(MusicPlayer& player, const Transport& t, const MusicCommand& command, bool& sounding)
{
    if (command.sound && (command.seek || !sounding)) playMusicFrom(player, t.positionMs);
    if (!command.sound && sounding) pauseMusic(player);
    sounding = command.sound;
}

static bool openWindow(Studio& s, const StudioOptions& o, std::string* error)
{
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *error = std::string("no display to show on (") + SDL_GetError() + "); start it from a desktop session";
        return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0)) {
        *error = "no display to show on (no X or Wayland session answered); start it from a desktop session";
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    s.window = SDL_CreateWindow("vantrop-studio", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, o.width, o.height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
    if (!s.window) {
        *error = std::string("no OpenGL window could be opened (") + SDL_GetError() + "); check the graphics driver";
        return false;
    }
    s.context = SDL_GL_CreateContext(s.window);
    if (!s.context || SDL_GL_MakeCurrent(s.window, s.context) != 0) {
        *error = std::string("no OpenGL context could be made (") + SDL_GetError() + "); check the graphics driver";
        return false;
    }
    if (SDL_GL_SetSwapInterval(-1) != 0) SDL_GL_SetSwapInterval(1);
    return true;
}

int main(int argc, char** argv)
{
    StudioOptions o;
    if (const int status = parseOptions(argc, argv, o); status >= 0) return status;
    MusicPlayer player;
    std::string error;
    if (!openMusic(player, o.music.c_str(), &error)) {
        std::fprintf(stderr, "vantrop-studio: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    Studio s;
    s.files = shaderFilesIn(o.shaders);
    s.shaderStamps = fileStamps(s.files);
    s.scale = o.preview == AUTO_PREVIEW ? 1 : o.preview;
    if (!openWindow(s, o, &error)) {
        std::fprintf(stderr, "vantrop-studio: %s\n", error.c_str());
        stopMusic(player);
        SDL_Quit();
        return EXIT_FAILED;
    }
    fitPicture(s);
    if (!s.haveProgram || !playMusic(player, &error)) {
        if (!error.empty()) std::fprintf(stderr, "vantrop-studio: %s\n", error.c_str());
        stopMusic(player);
        SDL_Quit();
        return EXIT_FAILED;
    }

    Transport t;
    t.lengthMs = player.lengthMs;
    t.positionMs = std::min(o.from, t.lengthMs);
    t.paused = o.paused;
    t.looping = o.loop;
    t.loopInMs = o.loopIn;
    t.loopOutMs = o.loopOut;
    // playMusic has started the sound from the beginning: move it to the
    // transport's place, or stop it when the studio starts paused.
    bool sounding = true;
    follow(player, t, {true, !t.paused}, sounding);

    int64_t lastTick = nowMs(), lastPoll = lastTick, lastTitle = 0;
    double fps = 0, frameMs = 0;
    bool quit = false;
    // What the window shows, so that a still picture is not drawn again and again.
    struct Shown {
        uint32_t positionMs;
        int scale, width, height;
        bool overlay;
        std::string banner;
        bool operator==(const Shown&) const = default;
    } shown{UINT32_MAX, 0, 0, 0, false, ""};
    bool changed = true;
    while (!quit) {
        SDL_Event event;
        // Paused with the picture up to date: sleep until something happens.
        if (!changed && t.paused && SDL_WaitEventTimeout(nullptr, int(SHADER_POLL_MS)) == 0) {}
        changed = false;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) quit = true;
            if (event.type == SDL_WINDOWEVENT) changed = true;
            if (event.type != SDL_KEYDOWN) continue;
            changed = true;
            const SDL_Keycode key = event.key.keysym.sym;
            const bool shift = (event.key.keysym.mod & KMOD_SHIFT) != 0;
            TransportKey transportKey;
            if (key == SDLK_ESCAPE)
                quit = true;
            else if (key == SDLK_TAB)
                s.overlay = !s.overlay;
            else if (key == SDLK_F12)
                saveFrame(s, t.positionMs);
            else if (key == SDLK_p) {
                o.preview = o.preview == AUTO_PREVIEW ? 1 : o.preview == 4 ? AUTO_PREVIEW : o.preview * 2;
                s.scale = o.preview == AUTO_PREVIEW ? s.scale : o.preview;
            } else if (key >= SDLK_1 && key <= SDLK_9)
                follow(player, t, jumpToSection(t, int(key - SDLK_1)), sounding);
            else if (keyToTransport(key, shift, transportKey))
                follow(player, t, pressKey(t, transportKey), sounding);
        }
        const int64_t now = nowMs();
        if (now - lastPoll >= SHADER_POLL_MS) {
            lastPoll = now;
            const std::vector<FileStamp> stamps = fileStamps(s.files);
            if (stamps != s.shaderStamps) {
                s.shaderStamps = stamps;
                changed = true;
                if (reloadShader(s))
                    s.reloadSavedAtNs = std::max_element(stamps.begin(), stamps.end(), [](auto& a, auto& b) {
                                            return a.modifiedNs < b.modifiedNs;
                                        })->modifiedNs;
            }
        }
        if (const std::string notice = takeMusicNotice(player); !notice.empty()) {
            say(s, notice);
            changed = true;
        }
        follow(player, t, tick(t, readMusicPosition(player), double(now - lastTick)), sounding);
        lastTick = now;

        // Auto preview: coarser while the picture moves too slowly, full size when it stands still.
        if (o.preview == AUTO_PREVIEW) {
            const bool moving = !t.paused;
            if (!moving)
                s.scale = 1;
            else if (frameMs > AUTO_PREVIEW_FRAME_MS && s.scale < PREVIEW_SCALES[std::size(PREVIEW_SCALES) - 1])
                s.scale *= 2;
            else if (frameMs * 4 < AUTO_PREVIEW_FRAME_MS &&
                     s.scale > 1) // the next finer scale costs four times as much
                s.scale /= 2;
        }
        // A hidden, minimised or tiny window shows nothing: draw nothing, and
        // sleep on the events instead of going round flat out.
        int drawableW = 0, drawableH = 0;
        SDL_GL_GetDrawableSize(s.window, &drawableW, &drawableH);
        if ((SDL_GetWindowFlags(s.window) & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) || drawableW < ASPECT_W ||
            drawableH < ASPECT_H) {
            SDL_WaitEventTimeout(nullptr, int(SHADER_POLL_MS));
            changed = true;
            continue;
        }
        fitPicture(s);
        const bool bannerUp = !s.banner.empty() && now < s.bannerUntilMs;
        const Shown wanted{t.positionMs, s.scale, s.drawWidth, s.drawHeight, s.overlay, bannerUp ? s.banner : ""};
        if (wanted == shown && !changed && !s.reloadSavedAtNs) continue;
        shown = wanted;
        changed = true;

        const auto started = std::chrono::steady_clock::now();
        glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
        glViewport(0, 0, s.drawWidth, s.drawHeight);
        renderFrame(t.positionMs);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        int box[4], w = 0, h = 0;
        pictureBox(s.window, box);
        SDL_GL_GetDrawableSize(s.window, &w, &h);
        glViewport(0, 0, w, h);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, s.framebuffer);
        glBlitFramebuffer(0, 0, s.drawWidth, s.drawHeight, box[0], box[1], box[0] + box[2], box[1] + box[3],
                          GL_COLOR_BUFFER_BIT, s.scale == 1 ? GL_NEAREST : GL_LINEAR);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glFinish();
        frameMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        fps = 1000.0 / std::max(frameMs, 1.0);
        const std::vector<std::string> lines = statusLines(t, s, fps, frameMs, o.preview);
        if (s.overlay) drawOverlay(s, lines);
        SDL_GL_SwapWindow(s.window);
        if (s.reloadSavedAtNs) {
            // From the file's save to the first frame shown with the new program.
            timespec wall{};
            clock_gettime(CLOCK_REALTIME, &wall);
            const int64_t latency = (int64_t(wall.tv_sec) * 1000000000 + wall.tv_nsec - s.reloadSavedAtNs) / 1000000;
            say(s, "the shader was rebuilt and drawn " + std::to_string(latency) + " ms after it was saved");
            s.reloadSavedAtNs = 0;
        }
        // A moving picture updates the title ten times a second; a still one at once.
        if (now - lastTitle >= TITLE_EVERY_MS || t.paused) {
            lastTitle = now;
            SDL_SetWindowTitle(s.window, ("vantrop-studio  " + lines[0] + "  " + lines[1]).c_str());
        }
    }
    stopMusic(player);
    SDL_GL_DeleteContext(s.context);
    SDL_DestroyWindow(s.window);
    SDL_Quit();
    return 0;
}
