// vantrop-studio: the show in a resizable window for the people who edit it:
// the shader reloads when its files change, and the music can be paused,
// stepped by beats and bars, shuttled and looped while the picture follows it.
#include "studio/studio.h"
#include "cli/command_line.h"
#include "render/from_readable.h"
#include "render/renderer.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

// How often the shader and schedule files are looked at, milliseconds: a
// save waits 10 ms on average before its rebuild starts, for a handful of
// stat calls each time.
static constexpr int64_t SHADER_POLL_MS = 20;
// How often a moving picture's title is redrawn, milliseconds.
static constexpr int64_t TITLE_EVERY_MS = 100;
// Preview scale: `auto` draws at the largest fraction of the window that keeps
// a moving picture's frames under this, and at full size once paused.
static constexpr double AUTO_PREVIEW_FRAME_MS = 50.0;
static constexpr int PREVIEW_SCALES[] = {1, 2, 4};
// A frame is drawn in horizontal bands of about this many milliseconds each,
// with a look at the window's events between them: ESC and closing the
// window are answered within about this long, whatever a whole frame costs.
static constexpr double BAND_MS = 100.0;
// What a pixel is taken to cost before the first frame has measured it,
// milliseconds: a software renderer's (a 1280x720 frame in about ten bands).
static constexpr double FIRST_MS_PER_PIXEL = 1e-3;
// Events looked at between bands, at most.
static constexpr int EVENTS_PEEKED = 64;

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
    case SDLK_COMMA: out = TransportKey::FrameBack; return true;
    case SDLK_PERIOD: out = TransportKey::FrameAhead; return true;
    default: return false;
    }
}

// Whether the window has been asked to close (ESC, or closing it), the
// events left in the queue for the frame loop to take.
static bool quitAsked()
{
    SDL_PumpEvents();
    SDL_Event events[EVENTS_PEEKED];
    const int count = SDL_PeepEvents(events, EVENTS_PEEKED, SDL_PEEKEVENT, SDL_QUIT, SDL_KEYDOWN);
    for (int i = 0; i < count; ++i)
        if (events[i].type == SDL_QUIT || (events[i].type == SDL_KEYDOWN && events[i].key.keysym.sym == SDLK_ESCAPE))
            return true;
    return false;
}

// Draws the frame at positionMs into the picture band by band (the scissor
// keeps each draw to its band, so every pixel is what one draw gives);
// false when the window was asked to close before the last band.
static bool drawPicture(Studio& s, uint32_t positionMs, double& msPerPixel)
{
    const double pixels = double(s.drawWidth) * double(s.drawHeight);
    const int bands = std::clamp(int(std::ceil(msPerPixel * pixels / BAND_MS)), 1, s.drawHeight);
    const auto started = std::chrono::steady_clock::now();
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
    glViewport(0, 0, s.drawWidth, s.drawHeight);
    glEnable(GL_SCISSOR_TEST);
    bool whole = true;
    for (int band = 0; band < bands && whole; ++band) {
        const int y0 = s.drawHeight * band / bands, y1 = s.drawHeight * (band + 1) / bands;
        glScissor(0, y0, s.drawWidth, y1 - y0);
        renderFrame(*s.renderer, s.schedule, positionMs);
        glFinish();
        whole = !quitAsked();
    }
    glDisable(GL_SCISSOR_TEST);
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (whole)
        msPerPixel =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count() / pixels;
    return whole;
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
    // Without XDG_RUNTIME_DIR there is no Wayland to reach, and trying makes
    // libwayland print an error of its own: X11 then, unless a driver is chosen.
#ifndef _WIN32
    if (!std::getenv("XDG_RUNTIME_DIR") && !std::getenv("SDL_VIDEODRIVER")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
#endif
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *error = std::string("no display to show on (") + SDL_GetError() + "); start it from a desktop session";
        return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver ||
        (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0 &&
         std::strcmp(driver, "windows") != 0)) {
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
    bool found = true;
#define VANTROP_STUDIO_GL_LOOKUP(type, name) found = (s.gl.name = type(SDL_GL_GetProcAddress(#name))) && found;
    VANTROP_STUDIO_GL_FUNCTIONS(VANTROP_STUDIO_GL_LOOKUP)
#undef VANTROP_STUDIO_GL_LOOKUP
    if (!found) {
        *error = std::string("the OpenGL driver (") + reinterpret_cast<const char*>(glGetString(GL_RENDERER)) +
            ") has no framebuffer objects (OpenGL 3.0); update the graphics driver";
        return false;
    }
    if (SDL_GL_SetSwapInterval(-1) != 0) SDL_GL_SetSwapInterval(1);
    s.renderer = createRenderer(SDL_GL_GetProcAddress, error);
    // A schedule file is watched: its values reach the programs through a
    // uniform, so an edit builds no new program.
    s.readable = createReadablePrograms(!o.schedule.empty());
    return s.renderer != nullptr;
}

// Lets go of the window and what draws in it.
static void closeWindow(Studio& s)
{
    destroyReadablePrograms(s.readable);
    destroyRenderer(s.renderer);
    if (s.context) SDL_GL_DeleteContext(s.context);
    if (s.window) SDL_DestroyWindow(s.window);
    s.readable = nullptr;
    s.renderer = nullptr;
    s.context = nullptr;
    s.window = nullptr;
}

// Tells why the studio could not start (unless `told` already was), with
// --message-box in a message box too, lets go of what was opened, and
// gives the exit status.
static int startFailed(const StudioOptions& o, MusicPlayer& player, const std::string& message,
                       const std::string& told = "", Studio* s = nullptr)
{
    if (!message.empty()) std::fprintf(stderr, "vantrop-studio: %s\n", message.c_str());
    if (o.messageBox)
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "vantrop-studio could not start",
                                 (message.empty() ? told : message).c_str(), nullptr);
    if (s) closeWindow(*s);
    stopMusic(player);
    SDL_Quit();
    return EXIT_FAILED;
}

int main(int argc, char** argv)
{
    StudioOptions o;
    if (const int status = parseStudioOptions(argc, argv, o); status >= 0) return status;
    // Started by a double-click on Windows: no console stands behind the window, and a failure to start is shown.
    if (letGoOfOwnConsole()) o.messageBox = true;
    std::string error;
    Studio s;
    // A schedule file is checked before anything opens.
    if (!o.schedule.empty() && !readScheduleFile(o.schedule, s.schedule, &error))
        return usageError("vantrop-studio", error);
    MusicPlayer player;
    player.program = "vantrop-studio";
    if (o.music.empty()) o.music = defaultMusicFile();
    if (!openMusic(player, o.music.c_str(), &error)) return startFailed(o, player, error);
    if (o.shaders.empty()) {
        std::string looked;
        o.shaders = defaultShaderFolder(&looked);
        if (o.shaders.empty())
            return startFailed(o, player,
                               "the show's readable shaders are not installed (looked in " + looked +
                                   "); give --shaders DIR, a folder with main.glsl, scene.glsl and the others (the "
                                   "source tree's shaders/)");
    }
    s.scheduleStamp = fileStamp(o.schedule);
    s.files = shaderFilesIn(o.shaders);
    s.shaderStamps = fileStamps(s.files);
    s.scale = o.preview == AUTO_PREVIEW ? 1 : o.preview;
    if (!openWindow(s, o, &error)) return startFailed(o, player, error, "", &s);
    fitPicture(s);
    // A first shader that does not build has said why already.
    if (!s.haveProgram) return startFailed(o, player, "", s.banner, &s);
    if (!playMusic(player, &error)) return startFailed(o, player, error, "", &s);

    Transport t;
    t.schedule = &s.schedule;
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
    s.strip = wholeTrack(t.lengthMs);
    startWaveform(s.waveform, o.music, t.lengthMs);

    int64_t lastTick = nowMs(), lastPoll = lastTick, lastTitle = 0;
    double fps = 0, frameMs = 0, msPerPixel = FIRST_MS_PER_PIXEL;
    bool quit = false;
    // What the window shows, so that a still picture is not drawn again and again.
    struct Shown {
        uint32_t positionMs;
        int scale, width, height;
        bool overlay;
        std::string banner;
        uint32_t stripStartMs, stripSpanMs;
        bool waveform;
        bool operator==(const Shown&) const = default;
    } shown{UINT32_MAX, 0, 0, 0, false, "", 0, 0, false};
    bool changed = true;
    while (!quit) {
        SDL_Event event;
        // Paused with the picture up to date: sleep until something happens.
        if (!changed && t.paused && SDL_WaitEventTimeout(nullptr, int(SHADER_POLL_MS)) == 0) {}
        changed = false;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) quit = true;
            if (event.type == SDL_WINDOWEVENT) changed = true;
            if (MusicCommand command{false, !t.paused && t.speed == 1}; stripMouse(s, t, event, command)) {
                follow(player, t, command, sounding);
                changed = true;
            }
            if (event.type != SDL_KEYDOWN) continue;
            changed = true;
            const SDL_Keycode key = event.key.keysym.sym;
            const bool shift = (event.key.keysym.mod & KMOD_SHIFT) != 0;
            TransportKey transportKey;
            if (key == SDLK_ESCAPE)
                quit = true;
            else if (key == SDLK_TAB)
                s.overlay = !s.overlay;
            else if (key == SDLK_m)
                s.parameters = !s.parameters;
            else if (key == SDLK_F12)
                saveFrame(s, t.positionMs);
            else if (key == SDLK_e)
                startExport(s, t, o.music, o.shaders, o.schedule);
            else if (key == SDLK_p) {
                o.preview = o.preview == AUTO_PREVIEW ? 1 : o.preview == 4 ? AUTO_PREVIEW : o.preview * 2;
                s.scale = o.preview == AUTO_PREVIEW ? s.scale : o.preview;
            } else if (key == SDLK_F11) {
                const bool full = SDL_GetWindowFlags(s.window) & SDL_WINDOW_FULLSCREEN_DESKTOP;
                SDL_SetWindowFullscreen(s.window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
            } else if (key >= SDLK_1 && key < SDLK_1 + int(std::size(SHOW_SECTIONS)))
                follow(player, t, jumpToSection(t, int(key - SDLK_1)), sounding);
            else if (keyToTransport(key, shift, transportKey))
                follow(player, t, pressKey(t, transportKey), sounding);
        }
        // Asked to close: no frame more.
        if (quit) break;
        const int64_t now = nowMs();
        if (now - lastPoll >= SHADER_POLL_MS) {
            lastPoll = now;
            const std::vector<FileStamp> stamps = fileStamps(s.files);
            if (stamps != s.shaderStamps) {
                // When the change was made: the latest save or move among
                // the files that changed (a file moved back in keeps its old
                // modification time; its inode's change time is the move).
                int64_t changedAtNs = 0;
                for (size_t i = 0; i < stamps.size(); ++i)
                    if (i >= s.shaderStamps.size() || !(stamps[i] == s.shaderStamps[i]))
                        changedAtNs = std::max({changedAtNs, stamps[i].modifiedNs, stamps[i].changedNs});
                s.shaderStamps = stamps;
                changed = true;
                // The frame on screen's program first: the picture changes sooner.
                const int64_t frame = t.positionMs;
                if (reloadShader(s, &frame)) {
                    s.reloadSavedAtNs = changedAtNs;
                    s.reloaded = "shader";
                }
            }
            if (const FileStamp stamp = fileStamp(o.schedule); !o.schedule.empty() && !(stamp == s.scheduleStamp)) {
                s.scheduleStamp = stamp;
                changed = true;
                if (reloadSchedule(s, o.schedule, t.positionMs)) {
                    s.reloadSavedAtNs = std::max(stamp.modifiedNs, stamp.changedNs);
                    s.reloaded = "schedule";
                }
            }
        }
        if (pollExport(s)) changed = true;
        if (const std::string notice = takeMusicNotice(player); !notice.empty()) {
            say(s, notice);
            changed = true;
        }
        follow(player, t, tick(t, readMusicPosition(player), double(now - lastTick)), sounding);
        lastTick = now;

        // Auto preview: coarser while the picture moves too slowly (playing,
        // or scrubbed with the mouse), full size when it stands still.
        if (o.preview == AUTO_PREVIEW) {
            const bool moving = !t.paused || s.drag == StripDrag::Scrub;
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
        // A zoomed strip keeps the playhead in view, except while the mouse holds it.
        if (s.drag == StripDrag::None) s.strip = followPlayhead(s.strip, shown.positionMs, t.positionMs, t.lengthMs);
        const Shown wanted{t.positionMs,    s.scale,        s.drawWidth,
                           s.drawHeight,    s.overlay,      bannerUp ? s.banner : "",
                           s.strip.startMs, s.strip.spanMs, s.waveform.ready};
        if (wanted == shown && !changed && !s.reloadSavedAtNs) continue;
        shown = wanted;
        changed = true;

        const auto started = std::chrono::steady_clock::now();
        // Cut short to close: the loop takes the event next.
        if (!drawPicture(s, t.positionMs, msPerPixel)) continue;
        int box[4], w = 0, h = 0;
        pictureBox(s.window, box);
        SDL_GL_GetDrawableSize(s.window, &w, &h);
        glViewport(0, 0, w, h);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        s.gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, s.framebuffer);
        s.gl.glBlitFramebuffer(0, 0, s.drawWidth, s.drawHeight, box[0], box[1], box[0] + box[2], box[1] + box[3],
                               GL_COLOR_BUFFER_BIT, s.scale == 1 ? GL_NEAREST : GL_LINEAR);
        s.gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glFinish();
        frameMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        fps = 1000.0 / std::max(frameMs, 1.0);
        const std::vector<std::string> lines = statusLines(t, s, fps, frameMs, o.preview);
        if (s.overlay) {
            drawOverlay(s, lines);
            drawStrip(s, t);
        }
        SDL_GL_SwapWindow(s.window);
        if (s.reloadSavedAtNs) {
            // From the file's save to the first frame shown with the new program.
            const int64_t wallNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();
            const int64_t latency = (wallNs - s.reloadSavedAtNs) / 1000000;
            say(s,
                std::string("the ") + s.reloaded + " was rebuilt and drawn " + std::to_string(latency) +
                    " ms after it was saved");
            s.reloadSavedAtNs = 0;
            if (finishShader(s)) changed = true;
        }
        // A moving picture updates the title ten times a second; a still one at once.
        if (now - lastTitle >= TITLE_EVERY_MS || t.paused) {
            lastTitle = now;
            SDL_SetWindowTitle(s.window,
                               ("vantrop-studio  " + lines[0] + "  " + lines[1] +
                                (s.shaderFailed ? "  SHADER EDIT FAILED: the last good one draws" : "") +
                                (s.scheduleFailed ? "  SCHEDULE EDIT FAILED: the last good one times the show" : ""))
                                   .c_str());
        }
    }
    stopExport(s);
    stopWaveform(s.waveform);
    stopMusic(player);
    closeWindow(s);
    SDL_Quit();
    return 0;
}
