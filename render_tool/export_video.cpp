#include "render_tool/export_video.h"

#include "cli/command_line.h"
#include "files/output_file.h"
#include "music/music.h"
#include "process/child.h"
#include "render/gl.h"
#include "render/headless.h"
#include "render/renderer.h"
#include "render_tool/encoder.h"
#include "render_tool/offline.h"
#include "timeline/schedule.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

static constexpr uint32_t DEFAULT_FPS = 60;
static constexpr uint32_t MAX_FPS = 240;

static const char* const VIDEO_HELP =
    "Usage: vantrop-render video --out FILE.mp4 [--fps N] [--size WxH] [--from MS] [--to MS] [--music FILE]\n"
    "                            [--shaders DIR] [--schedule FILE] [--stop-when-input-ends] [--reserved]\n"
    "\n"
    "Exports the show as an H.264 MP4 video with the music's matching stretch as\n"
    "its sound, through the ffmpeg program (Debian package ffmpeg; on Windows\n"
    "ffmpeg.exe beside this program or on PATH). Frame n shows the music\n"
    "position FROM + n * 1000 / N milliseconds (rounded down).\n"
    "\n"
    "  --fps N       frames per second, 1 to 240 (default 60)\n"
    "  --size WxH    any 16:9 size with even width and height (default 1280x720)\n"
    "  --from MS     first position in milliseconds (default 0)\n"
    "  --to MS       end position, not included (default: the music's length,\n"
    "                or the end of the picture without music)\n"
    "  --music FILE  the sound track (default lomu_hmm.mp3 in the working folder;\n"
    "                without it the video is silent)\n"
    "\n"
    "FILE may end in .mp4, .mkv or .mov. The video is exactly FROM to TO long; where\n"
    "the music ends sooner, the rest is silent. Colours are recorded as BT.709. It\n"
    "is written to a temporary file beside FILE and moved into place when done, so\n"
    "a failed export leaves nothing behind and never touches the music file.\n"
    "Ctrl+C stops the export and keeps a playable file of the frames done so far;\n"
    "so does the end of its input with --stop-when-input-ends (for a program that\n"
    "runs this one on a pipe, as the studio does: closing the pipe stops it).\n"
    "With --reserved, FILE is an empty file that the program running this one\n"
    "made to hold the name (as the studio does): the video takes its place only\n"
    "while it is still empty, never over a file another program wrote there.\n";

static volatile std::sig_atomic_t interrupted;
// The program that runs this one closed its input: stopped as by Ctrl+C.
static bool inputEnded;

static void onInterrupt(int signal)
{
    interrupted = signal;
}

// Ctrl+C (and on POSIX a polite end from outside) stops the export, keeping what is drawn.
static void catchStopSignals()
{
#ifdef _WIN32
    for (int signal : {SIGINT, SIGBREAK}) std::signal(signal, onInterrupt);
#else
    // A gone ffmpeg is told by a failed write, not by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

// What stopped the export: "signal 2 (Interrupt)", on Windows the key that
// sent it, or the end of its input.
static std::string signalText(int signal)
{
    if (inputEnded) return "the end of its input";
#ifdef _WIN32
    return signal == SIGBREAK ? "Ctrl+Break" : "Ctrl+C";
#else
    return "signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
#endif
}

// The pixel-buffer functions (OpenGL 1.5): Windows' opengl32 exports only
// OpenGL 1.1, so they are looked up in the context. X(type, name).
#define VANTROP_PIXEL_BUFFER_FUNCTIONS(X)      \
    X(PFNGLGENBUFFERSPROC, glGenBuffers)       \
    X(PFNGLDELETEBUFFERSPROC, glDeleteBuffers) \
    X(PFNGLBINDBUFFERPROC, glBindBuffer)       \
    X(PFNGLBUFFERDATAPROC, glBufferData)       \
    X(PFNGLMAPBUFFERPROC, glMapBuffer)         \
    X(PFNGLUNMAPBUFFERPROC, glUnmapBuffer)
struct PixelBufferFunctions {
#define VANTROP_PIXEL_BUFFER_FIELD(type, name) type name;
    VANTROP_PIXEL_BUFFER_FUNCTIONS(VANTROP_PIXEL_BUFFER_FIELD)
#undef VANTROP_PIXEL_BUFFER_FIELD
};

static bool lookUpPixelBuffers(PixelBufferFunctions& gl)
{
    bool found = true;
#define VANTROP_PIXEL_BUFFER_LOOKUP(type, name) found = (gl.name = type(headlessLookup(#name))) && found;
    VANTROP_PIXEL_BUFFER_FUNCTIONS(VANTROP_PIXEL_BUFFER_LOOKUP)
#undef VANTROP_PIXEL_BUFFER_LOOKUP
    return found;
}

static std::string clockText(double seconds)
{
    char text[32];
    const int s = int(seconds + 0.5);
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
    return text;
}

// Passes ffmpeg's whole lines in `pending` on to standard error, naming it,
// and keeps the last one: the reason given when it fails.
static void passOnLines(std::string& pending, std::string& last)
{
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::fprintf(stderr, "vantrop-render video: ffmpeg: %s\n", line.c_str());
        last = line;
    }
}

// Waits for an ffmpeg whose input has ended: "" when it succeeded, or what went wrong in its own words.
static std::string finishFfmpeg(Child& ffmpeg, std::string& pending, std::string& last)
{
    const ChildEnd end = waitForChild(ffmpeg, pending);
    if (!pending.empty() && pending.back() != '\n') pending += '\n';
    passOnLines(pending, last);
    return describeChildEnd("ffmpeg", end, last);
}

struct VideoOptions {
    std::string out, music = MUSIC_FILE_NAME;
    bool musicGiven = false, toGiven = false, stopWhenInputEnds = false;
    bool reserved = false; // FILE is an empty file that holds the name for this export
    uint32_t fps = DEFAULT_FPS, from = 0, to = 0;
    int width = DEFAULT_PICTURE_WIDTH, height = DEFAULT_PICTURE_HEIGHT;
};

static int parseVideoOptions(int argc, char** argv, VideoOptions& o)
{
    std::string error;
    std::vector<std::string> seen;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (isHelp(argv[i])) {
            std::fputs(VIDEO_HELP, stdout);
            std::fputs(SHADERS_OPTION_HELP, stdout);
            std::fputs(SCHEDULE_OPTION_HELP, stdout);
            return 0;
        }
        if (optionRepeated("vantrop-render video", seen, arg)) return EXIT_USAGE;
        if (arg == "--stop-when-input-ends" || arg == "--reserved") {
            (arg == "--reserved" ? o.reserved : o.stopWhenInputEnds) = true;
            continue;
        }
        if (i + 1 >= argc)
            return usageError("vantrop-render video", "unknown argument or missing value: '" + arg + "'");
        const char* value = argv[++i];
        if (arg == "--out") {
            o.out = value;
        } else if (arg == "--shaders") {
            if (!useShaderFolder(value, &error)) return usageError("vantrop-render video", error);
        } else if (arg == "--schedule") {
            if (!useScheduleFile(value, &error)) return usageError("vantrop-render video", error);
        } else if (arg == "--music") {
            o.music = value;
            o.musicGiven = true;
        } else if (arg == "--size") {
            if (!parseSize(value, o.width, o.height, &error)) return usageError("vantrop-render video", error);
            if (o.width % 2 || o.height % 2)
                return usageError("vantrop-render video", "H.264 needs an even width and height");
        } else if (arg == "--fps") {
            if (!parseUint32(value, o.fps) || o.fps == 0 || o.fps > MAX_FPS)
                return usageError("vantrop-render video", std::string("bad --fps '") + value + "': give 1 to 240");
        } else if (arg == "--from" || arg == "--to") {
            uint32_t& target = arg == "--from" ? o.from : o.to;
            if (!parsePosition(value, target))
                return usageError("vantrop-render video", badPositionMessage(arg, value));
            o.toGiven = o.toGiven || arg == "--to";
        } else {
            return usageError("vantrop-render video", "unknown argument '" + arg + "'");
        }
    }
    if (o.out.empty()) return usageError("vantrop-render video", "--out FILE.mp4 is required");
    return -1;
}

// Ends the export after a signal: nothing of the temporary files is left.
static int stoppedBeforeAnyFrame(const std::string& out)
{
    std::fprintf(stderr, "vantrop-render video: stopped by %s before any frame; %s was not written\n",
                 signalText(interrupted).c_str(), out.c_str());
    return EXIT_SIGNAL_BASE + interrupted;
}

int runVideo(int argc, char** argv)
{
    // Caught from the start, so that no signal leaves a temporary file behind.
    catchStopSignals();

    VideoOptions o;
    if (const int status = parseVideoOptions(argc, argv, o); status >= 0) return status;

    std::string error;
    std::error_code missing;
    bool haveMusic = std::filesystem::exists(o.music, missing) || o.musicGiven;
    uint32_t musicLength = showEndMs();
    if (haveMusic && !readMusicLength(o.music.c_str(), &musicLength, &error)) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        return 1;
    }
    if (haveMusic)
        if (const std::string damage = describeMusicDamage(o.music.c_str()); !damage.empty())
            std::fprintf(stderr, "vantrop-render video: %s\n", damage.c_str());
    if (!haveMusic)
        std::fprintf(stderr, "vantrop-render video: no %s here, so the video is silent (give one with --music)\n",
                     o.music.c_str());
    if (!o.toGiven) o.to = musicLength;
    if (o.from >= o.to)
        return usageError("vantrop-render video", "--from must lie before --to (" + std::to_string(o.to) + " ms)");
    if (!checkOutputPath(o.out, {".mp4", ".mkv", ".mov"}, {o.music}, &error)) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        return 1;
    }
    if (o.reserved && !isReservation(o.out))
        return usageError("vantrop-render video",
                          "--reserved: " + o.out +
                              " is not an empty file holding the name; make it first, or leave "
                              "out --reserved");
    const std::string ffmpeg = findProgram("ffmpeg");
    if (ffmpeg.empty()) {
#ifdef _WIN32
        std::fputs(
            "vantrop-render video: ffmpeg.exe was found neither beside vantrop-render.exe nor on PATH; "
            "download a Windows build of ffmpeg (https://ffmpeg.org/download.html) and put its "
            "ffmpeg.exe beside vantrop-render.exe\n",
            stderr);
#else
        std::fputs(
            "vantrop-render video: the ffmpeg program was found neither beside vantrop-render nor on PATH; "
            "install it (Debian package ffmpeg)\n",
            stderr);
#endif
        return 1;
    }
    if (interrupted) return stoppedBeforeAnyFrame(o.out);

    // Frame n shows FROM + floor(n * 1000 / FPS) ms; the frames are those before TO.
    const uint32_t frameCount = uint32_t((uint64_t(o.to - o.from) * o.fps + 999) / 1000);

    // Only the stretch being exported is decoded, a frame's worth at a time.
    long rate = 0;
    MusicReader* music = haveMusic ? openMusicReader(o.music.c_str(), o.from, &rate, &error) : nullptr;
    if (haveMusic && !music) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        return 1;
    }
    PixelBufferFunctions gl{};
    if (!openOfflineRenderer(o.width, o.height, &error)) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        closeMusicReader(music);
        return 1;
    }
    if (!lookUpPixelBuffers(gl)) {
        std::fprintf(stderr,
                     "vantrop-render video: the OpenGL driver (%s) has no pixel buffers (OpenGL 1.5); update the "
                     "graphics driver\n",
                     rendererName().c_str());
        closeMusicReader(music);
        return 1;
    }
    if (interrupted) {
        closeMusicReader(music);
        return stoppedBeforeAnyFrame(o.out);
    }
    const std::string extension = o.out.substr(o.out.rfind('.'));
    std::string pictures = makeTemporaryBeside(o.out, extension, &error), temporary, sound;
    if (!pictures.empty() && music) temporary = makeTemporaryBeside(o.out, extension, &error);
    auto cleanUp = [&] {
        for (const std::string* path : {&pictures, &temporary, &sound})
            if (!path->empty()) std::remove(path->c_str());
    };
    if (pictures.empty() || (music && temporary.empty())) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        closeMusicReader(music);
        cleanUp();
        return 1;
    }

    // Pass one: the frames alone. The sound goes to a WAV file beside it in
    // step with the frames sent, and pass two puts the two together, so
    // that the sound ends exactly where the frames end, also when a signal
    // stops the export early.
    const std::vector<std::string> args = pictureEncoderArguments(ffmpeg, o.width, o.height, o.fps, pictures);
    FILE* soundFile = nullptr;
    if (music) {
        sound = makeTemporaryBeside(o.out, ".wav", &error);
        soundFile = sound.empty() ? nullptr : std::fopen(sound.c_str(), "wb");
        if (!soundFile || !writeWavHeader(soundFile, rate, 0)) {
            if (error.empty())
                error = "cannot write the sound of the video beside " + o.out + ": " + std::strerror(errno);
            std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
            if (soundFile) std::fclose(soundFile);
            closeMusicReader(music);
            cleanUp();
            return 1;
        }
    }
    Child encoder;
    // Its errors come through this program, so that the reason for a failure reaches the last line.
    std::string ffmpegSaid, ffmpegLast;
    if (!startChild(encoder, args, CHILD_INPUT | CHILD_ERRORS, &error)) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        if (soundFile) std::fclose(soundFile);
        closeMusicReader(music);
        cleanUp();
        return 1;
    }

    // Two pixel buffers: while frame n is read back into one, frame n - 1
    // goes from the other to the encoder, and its stretch of sound to the WAV file.
    const size_t frameBytes = size_t(o.width) * o.height * 3;
    GLuint buffers[2];
    gl.glGenBuffers(2, buffers);
    for (GLuint b : buffers) {
        gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, b);
        gl.glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(frameBytes), nullptr, GL_STREAM_READ);
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    uint64_t soundFrames = 0;
    bool soundWritten = true;
    std::vector<int16_t> samples;
    auto sendFrame = [&](uint32_t n) {
        gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[n % 2]);
        const void* pixels = gl.glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
        const bool ok = pixels && writeToChild(encoder, pixels, frameBytes);
        gl.glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
        if (ok && music) {
            // Frame n's sound: sample frames n * RATE / FPS up to (n + 1) * RATE / FPS.
            const uint64_t end = uint64_t(n + 1) * uint64_t(rate) / o.fps;
            samples.resize(size_t(end - soundFrames) * 2);
            readMusicFrames(music, samples.data(), end - soundFrames);
            soundWritten =
                soundWritten && std::fwrite(samples.data(), 4, end - soundFrames, soundFile) == end - soundFrames;
            soundFrames = end;
        }
        return ok;
    };

    // On a terminal one line kept current; in a log, a line every tenth.
    const bool showProgress = stderrIsTerminal();
    uint32_t nextTenth = 1;
    const auto started = std::chrono::steady_clock::now();
    uint32_t sent = 0, readBack = 0;
    bool pipeBroken = false;
    for (uint32_t n = 0; n < frameCount && !interrupted && !pipeBroken; ++n) {
        if (o.stopWhenInputEnds && standardInputEnded()) {
            inputEnded = true;
            interrupted = SIGINT;
            break;
        }
        renderFrame(o.from + uint32_t(uint64_t(n) * 1000 / o.fps));
        gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[n % 2]);
        glReadPixels(0, 0, o.width, o.height, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        readBack = n + 1;
        if (n > 0) {
            pipeBroken = !sendFrame(n - 1);
            sent += !pipeBroken;
        }
        readFromChild(encoder, ffmpegSaid);
        passOnLines(ffmpegSaid, ffmpegLast);
        if (showProgress) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            const double rate = readBack / std::max(elapsed, 1e-6);
            std::fprintf(stderr, "\rframe %u of %u  %.1f frames/s  %s left   ", readBack, frameCount, rate,
                         clockText((frameCount - readBack) / rate).c_str());
        } else {
            logProgressTenth("vantrop-render video", "frame", readBack, frameCount, nextTenth);
        }
    }
    // The last frame read back is still waiting in its buffer.
    if (!pipeBroken && readBack > sent) {
        pipeBroken = !sendFrame(readBack - 1);
        sent += !pipeBroken;
    }
    if (showProgress) std::fputc('\n', stderr);
    closeMusicReader(music);
    gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    gl.glDeleteBuffers(2, buffers);
    std::string failure = finishFfmpeg(encoder, ffmpegSaid, ffmpegLast);
    if (failure.empty() && pipeBroken) failure = "ffmpeg stopped taking frames";
    if (soundFile) {
        soundWritten = soundWritten && std::fflush(soundFile) == 0 && writeWavHeader(soundFile, rate, soundFrames);
        soundWritten = std::fclose(soundFile) == 0 && soundWritten;
        if (failure.empty() && !soundWritten)
            failure = "the sound could not be written beside it (" + std::string(std::strerror(errno)) + ")";
    }
    if (failure.empty() && sent == 0) {
        cleanUp();
        return stoppedBeforeAnyFrame(o.out);
    }
    if (failure.empty() && music) {
        // Pass two: the frames as they are, the sound encoded beside them; a
        // signal now waits for this short pass to end.
        const std::vector<std::string> join = soundJoinArguments(ffmpeg, pictures, sound, temporary);
        Child joiner;
        std::string joinerSaid, joinerLast;
        failure = startChild(joiner, join, CHILD_INPUT | CHILD_ERRORS, &error)
            ? finishFfmpeg(joiner, joinerSaid, joinerLast)
            : error;
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "vantrop-render video: after %u of %u frames, %s; %s was not written\n", sent, frameCount,
                     failure.c_str(), o.out.c_str());
        cleanUp();
        return 1;
    }
    const std::string& finished = music ? temporary : pictures;
    const bool moved =
        o.reserved ? moveOntoReservation(finished, o.out, &error) : moveIntoPlace(finished, o.out, &error);
    cleanUp();
    if (!moved) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        return 1;
    }
    if (interrupted) {
        std::fprintf(stderr,
                     "vantrop-render video: stopped by %s; kept %s with the first %u of %u frames "
                     "(%s of video and sound from %u ms)\n",
                     signalText(interrupted).c_str(), o.out.c_str(), sent, frameCount,
                     clockText(double(sent) / o.fps).c_str(), o.from);
        return EXIT_SIGNAL_BASE + interrupted;
    }
    std::fprintf(stderr, "vantrop-render video: wrote %s (%s, %u frames at %u fps, %dx%d, %s)\n", o.out.c_str(),
                 clockText(double(sent) / o.fps).c_str(), sent, o.fps, o.width, o.height, fileSizeText(o.out).c_str());
    return 0;
}
