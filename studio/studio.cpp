// vantrop-studio: the show in a resizable window for the people who edit it:
// the shader reloads when its files change, and the music can be paused,
// stepped by beats and bars, shuttled and looped while the picture follows it.
#include "studio/studio.h"
#include "cli/command_line.h"
#include "render/from_readable.h"
#include "studio/keys.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

// How often the shader and schedule files are looked at, milliseconds: a
// save waits 10 ms on average before its rebuild starts, for a handful of
// stat calls each time.
static constexpr int64_t SHADER_POLL_MS = 20;
// How often a moving picture's title is redrawn, milliseconds.
static constexpr int64_t TITLE_EVERY_MS = 100;
// What a pixel is taken to cost before the first frame has measured it,
// milliseconds: a software renderer's (a 1280x720 frame in about ten bands).
static constexpr double FIRST_MS_PER_PIXEL = 1e-3;

// What the window shows, so that a still picture is not drawn again and again.
struct Shown {
    uint32_t positionMs = UINT32_MAX;
    int scale = 0, width = 0, height = 0;
    bool overlay = false;
    std::string banner;
    uint32_t stripStartMs = 0, stripSpanMs = 0;
    bool waveform = false;
    bool operator==(const Shown&) const = default;
};

// What the frame loop keeps from one round to the next.
struct StudioLoop {
    StudioOptions& o;
    Studio& s;
    MusicPlayer& player;
    Transport t{};
    bool sounding = true; // the music plays with sound
    bool quit = false;
    bool changed = true; // something asks for the picture to be drawn again
    int64_t lastTick = 0, lastPoll = 0, lastTitle = 0;
    double fps = 0, frameMs = 0, msPerPixel = FIRST_MS_PER_PIXEL;
    Shown shown{};
};

// Makes the music do what the transport asks.
static void follow(StudioLoop& l, const MusicCommand& command)
{
    if (command.sound && (command.seek || !l.sounding)) playMusicFrom(l.player, l.t.positionMs);
    if (!command.sound && l.sounding) pauseMusic(l.player);
    l.sounding = command.sound;
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
                                 wrapText(message.empty() ? told : message, MESSAGE_BOX_COLUMNS).c_str(), nullptr);
    if (s) closeWindow(*s);
    stopMusic(player);
    SDL_Quit();
    return EXIT_FAILED;
}

// Opens the music, or silence where the studio is to play none or finds no
// track of its own; false with *error.
static bool openStudioMusic(StudioOptions& o, const Studio& s, MusicPlayer& player, std::string* error)
{
    const bool named = !o.music.empty();
    if (!named && o.silentSeconds == 0) o.music = defaultMusicFile();
    std::error_code missing;
    if (named || (o.silentSeconds == 0 && std::filesystem::is_regular_file(o.music, missing)))
        return openMusic(player, o.music.c_str(), error);
    const uint32_t lengthMs = o.silentSeconds > 0 ? uint32_t(o.silentSeconds * 1000.0) : showEndMs(s.schedule);
    if (o.silentSeconds == 0)
        std::fprintf(stderr,
                     "vantrop-studio: no %s to play; the show runs in silence for its %u s (give --music FILE to "
                     "hear a track)\n",
                     o.music.c_str(), lengthMs / 1000);
    o.music.clear();
    return openSilentMusic(player, lengthMs, error);
}

// Opens the music, finds the shaders, opens the window and builds the first
// picture's programs: -1 when the studio is up, else the exit status.
static int startStudio(StudioOptions& o, Studio& s, MusicPlayer& player)
{
    std::string error;
    // A schedule file is checked before anything opens.
    if (!o.schedule.empty() && !readScheduleFile(o.schedule, s.schedule, &error))
        return usageError("vantrop-studio", error);
    player.program = "vantrop-studio";
    if (o.shaders.empty()) {
        std::string looked;
        o.shaders = defaultShaderFolder(&looked);
        if (o.shaders.empty())
            return startFailed(o, player,
                               "the show's readable shaders are not installed (looked in " + looked +
                                   "); give --shaders DIR, a folder with main.glsl, scene.glsl and the others (the "
                                   "source tree's shaders/)");
        std::string said;
        o.shaders = editableShaderFolder(o.shaders, &said);
        if (!said.empty()) std::fprintf(stderr, "vantrop-studio: %s\n", said.c_str());
    }
    s.scheduleStamp = fileStamp(o.schedule);
    s.files = shaderFilesIn(o.shaders);
    // So is a track file, against the tracks the shaders declare.
    if (!loadTracks(s, o.tracks, &error)) return usageError("vantrop-studio", error);
    if (!openStudioMusic(o, s, player, &error)) return startFailed(o, player, error);
    s.shaderStamps = fileStamps(s.files);
    s.scale = o.preview == AUTO_PREVIEW ? 1 : o.preview;
    if (!openWindow(s, o, &error)) return startFailed(o, player, error, "", &s);
    fitPicture(s);
    // A first shader that does not build has said why already.
    if (!s.haveProgram) return startFailed(o, player, "", s.banner, &s);
    if (!playMusic(player, &error)) return startFailed(o, player, error, "", &s);
    return -1;
}

// Carries out what a key asks for.
static void pressStudioKey(StudioLoop& l, SDL_Keycode key, bool shift, bool ctrl)
{
    Studio& s = l.s;
    if (editKeys(s, l.o, key, shift, ctrl)) return;
    const KeyCommand c = commandForKey(key, shift);
    switch (c.command) {
    case StudioCommand::Quit: l.quit = true; break;
    case StudioCommand::ToggleOverlay: s.overlay = !s.overlay; break;
    case StudioCommand::ToggleParameters: s.parameters = !s.parameters; break;
    case StudioCommand::SaveFrame: saveFrame(s, l.t.positionMs); break;
    case StudioCommand::Export: startExport(s, l.t, l.o); break;
    case StudioCommand::Publish: publishSite(s, l.o); break;
    case StudioCommand::CheckFlashes: startFlashCheck(s, l.t, l.o); break;
    case StudioCommand::NextPreview:
        l.o.preview = nextPreviewSetting(l.o.preview);
        if (l.o.preview != AUTO_PREVIEW) s.scale = l.o.preview;
        s.preview = AutoPreview{};
        s.preview.scale = s.scale;
        break;
    case StudioCommand::FullScreen: {
        const bool full = SDL_GetWindowFlags(s.window) & SDL_WINDOW_FULLSCREEN_DESKTOP;
        SDL_SetWindowFullscreen(s.window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
        break;
    }
    case StudioCommand::Section: follow(l, jumpToSection(l.t, c.section)); break;
    case StudioCommand::Move: follow(l, pressKey(l.t, c.move)); break;
    case StudioCommand::None: break;
    }
}

// Takes the window's events: keys, the mouse on the strip, closing.
static void takeEvents(StudioLoop& l)
{
    SDL_Event event;
    // Paused with the picture up to date: sleep until something happens.
    if (!l.changed && l.t.paused && SDL_WaitEventTimeout(nullptr, int(SHADER_POLL_MS)) == 0) {}
    l.changed = false;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) l.quit = true;
        if (event.type == SDL_WINDOWEVENT) l.changed = true;
        if (lanesMouse(l.s, l.o, event))
            l.changed = true;
        else if (MusicCommand command{false, !l.t.paused && l.t.speed == 1};
                 stripMouse(l.s, l.o, l.t, event, command)) {
            follow(l, command);
            l.changed = true;
        }
        if (event.type != SDL_KEYDOWN) continue;
        l.changed = true;
        pressStudioKey(l, event.key.keysym.sym, (event.key.keysym.mod & KMOD_SHIFT) != 0,
                       (event.key.keysym.mod & KMOD_CTRL) != 0);
    }
}

// Looks at the shader and schedule files, and rebuilds what changed.
static void watchFiles(StudioLoop& l)
{
    Studio& s = l.s;
    const std::vector<FileStamp> stamps = fileStamps(s.files);
    if (stamps != s.shaderStamps) {
        // When the change was made: the latest save or move among the files
        // that changed (a file moved back in keeps its old modification
        // time; its inode's change time is the move).
        int64_t changedAtNs = 0;
        for (size_t i = 0; i < stamps.size(); ++i)
            if (i >= s.shaderStamps.size() || !(stamps[i] == s.shaderStamps[i]))
                changedAtNs = std::max({changedAtNs, stamps[i].modifiedNs, stamps[i].changedNs});
        s.shaderStamps = stamps;
        l.changed = true;
        // The frame on screen's program first: the picture changes sooner.
        const int64_t frame = l.t.positionMs;
        if (reloadShader(s, &frame)) {
            s.reloadSavedAtNs = changedAtNs;
            s.reloaded = "shader";
        }
    }
    const std::string& schedule = l.o.schedule;
    if (const FileStamp stamp = fileStamp(schedule); !schedule.empty() && !(stamp == s.scheduleStamp)) {
        s.scheduleStamp = stamp;
        l.changed = true;
        if (reloadSchedule(s, schedule, l.t.positionMs)) {
            s.reloadSavedAtNs = std::max(stamp.modifiedNs, stamp.changedNs);
            s.reloaded = "schedule";
        }
    }
    if (watchTracks(s, l.o.tracks)) l.changed = true;
}

// After a frame is up: says how long a rebuild took to reach the screen,
// and builds the rest of the edit's programs.
static void reportReload(StudioLoop& l)
{
    Studio& s = l.s;
    if (!s.reloadSavedAtNs) return;
    // From the file's save to the first frame shown with the new program.
    const int64_t wallNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const int64_t latency = (wallNs - s.reloadSavedAtNs) / 1000000;
    say(s,
        std::string("the ") + s.reloaded + " was rebuilt and drawn " + std::to_string(latency) +
            " ms after it was saved");
    s.reloadSavedAtNs = 0;
    if (finishShader(s)) l.changed = true;
}

// Draws the frame, shows it with the overlay and the strip, and updates the title.
static void present(StudioLoop& l, int64_t now)
{
    Studio& s = l.s;
    const auto started = std::chrono::steady_clock::now();
    // Cut short to close: the loop takes the event next.
    if (!drawPicture(s, l.t.positionMs, l.msPerPixel)) return;
    showPicture(s);
    l.frameMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    l.fps = 1000.0 / std::max(l.frameMs, 1.0);
    const std::vector<std::string> lines = statusLines(l.t, s, l.fps, l.frameMs, l.o.preview);
    if (s.overlay) {
        drawOverlay(s, lines);
        drawStrip(s, l.t);
        drawLanes(s, l.t);
    }
    SDL_GL_SwapWindow(s.window);
    reportReload(l);
    reportEdit(s);
    // Auto preview: coarser while the picture moves too slowly (playing, or
    // scrubbed with the mouse), full size when it stands still.
    const bool moving = !l.t.paused || s.drag == StripDrag::Scrub;
    if (l.o.preview == AUTO_PREVIEW && moving) s.scale = autoPreviewScale(s.preview, l.frameMs, true);
    // A moving picture updates the title ten times a second; a still one at once.
    if (now - l.lastTitle >= TITLE_EVERY_MS || l.t.paused) {
        l.lastTitle = now;
        SDL_SetWindowTitle(s.window,
                           ("vantrop-studio  " + lines[0] + "  " + lines[1] +
                            (s.shaderFailed ? "  SHADER EDIT FAILED: the last good one draws" : "") +
                            (s.scheduleFailed ? "  SCHEDULE EDIT FAILED: the last good one times the show" : "") +
                            (s.edits.tracksFailed ? "  TRACKS EDIT FAILED: the last good keys play" : ""))
                               .c_str());
    }
}

// One round of the loop after the events: files, export, music, then a frame if one is due.
static void advance(StudioLoop& l)
{
    Studio& s = l.s;
    const int64_t now = nowMs();
    if (now - l.lastPoll >= SHADER_POLL_MS) {
        l.lastPoll = now;
        watchFiles(l);
    }
    l.changed = pollExport(s) || l.changed;
    l.changed = pollFlashCheck(s) || l.changed;
    if (const std::string notice = takeMusicNotice(l.player); !notice.empty()) {
        say(s, notice);
        l.changed = true;
    }
    follow(l, tick(l.t, readMusicPosition(l.player), double(now - l.lastTick)));
    l.lastTick = now;
    if (l.o.preview == AUTO_PREVIEW && l.t.paused && s.drag != StripDrag::Scrub)
        s.scale = autoPreviewScale(s.preview, 0, false);
    // A hidden, minimised or tiny window shows nothing: draw nothing, and
    // sleep on the events instead of going round flat out.
    if (windowShowsNothing(s)) {
        SDL_WaitEventTimeout(nullptr, int(SHADER_POLL_MS));
        l.changed = true;
        return;
    }
    fitPicture(s);
    const bool bannerUp = !s.banner.empty() && now < s.bannerUntilMs;
    // A zoomed strip keeps the playhead in view, except while the mouse holds it.
    if (s.drag == StripDrag::None) s.strip = followPlayhead(s.strip, l.shown.positionMs, l.t.positionMs, l.t.lengthMs);
    const Shown wanted{l.t.positionMs,           s.scale,         s.drawWidth,    s.drawHeight,    s.overlay,
                       bannerUp ? s.banner : "", s.strip.startMs, s.strip.spanMs, s.waveform.ready};
    if (wanted == l.shown && !l.changed && !s.reloadSavedAtNs) return;
    l.shown = wanted;
    l.changed = true;
    present(l, now);
}

int main(int argc, char** argv)
{
    StudioOptions o;
    if (const int status = parseStudioOptions(argc, argv, o); status >= 0) return status;
    // Started by a double-click on Windows: no console stands behind the window, and a failure to start is shown.
    if (letGoOfOwnConsole()) o.messageBox = true;
    Studio s;
    MusicPlayer player;
    if (const int status = startStudio(o, s, player); status >= 0) return status;

    StudioLoop l{o, s, player};
    l.t.schedule = &s.schedule;
    l.t.lengthMs = player.lengthMs;
    l.t.positionMs = std::min(o.from, l.t.lengthMs);
    l.t.paused = o.paused;
    l.t.looping = o.loop;
    l.t.loopInMs = o.loopIn;
    l.t.loopOutMs = o.loopOut;
    // playMusic has started the sound from the beginning: move it to the
    // transport's place, or stop it when the studio starts paused.
    follow(l, {true, !l.t.paused});
    s.strip = wholeTrack(l.t.lengthMs);
    startWaveform(s.waveform, o.music, l.t.lengthMs);
    l.lastTick = l.lastPoll = nowMs();
    while (!l.quit) {
        takeEvents(l);
        // Asked to close: no frame more.
        if (l.quit) break;
        advance(l);
    }
    stopExport(s);
    stopFlashCheck(s);
    stopWaveform(s.waveform);
    stopMusic(player);
    closeWindow(s);
    SDL_Quit();
    return 0;
}
