#include "render_tool/frame_pass.h"

#include "cli/command_line.h"
#include "render/gl.h"

#include <algorithm>
#include <chrono>
#include <vector>

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

static bool lookUpPixelBuffers(const Offline& offline, PixelBufferFunctions& gl)
{
    const GlLookup lookup = headlessLookup(*offline.context);
    bool found = true;
#define VANTROP_PIXEL_BUFFER_LOOKUP(type, name) found = (gl.name = type(lookup(#name))) && found;
    VANTROP_PIXEL_BUFFER_FUNCTIONS(VANTROP_PIXEL_BUFFER_LOOKUP)
#undef VANTROP_PIXEL_BUFFER_LOOKUP
    return found;
}

bool hasPixelBuffers(const Offline& offline)
{
    PixelBufferFunctions gl{};
    return lookUpPixelBuffers(offline, gl);
}

std::string clockText(double seconds)
{
    char text[32];
    const int s = int(seconds + 0.5);
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
    return text;
}

void passOnLines(std::string& pending, std::string& last, const char* command)
{
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::fprintf(stderr, "%s: ffmpeg: %s\n", command, line.c_str());
        last = line;
    }
}

std::string finishFfmpeg(Child& ffmpeg, std::string& pending, std::string& last)
{
    const ChildEnd end = waitForChild(ffmpeg, pending);
    if (!pending.empty() && pending.back() != '\n') pending += '\n';
    passOnLines(pending, last);
    return describeChildEnd("ffmpeg", end, last);
}

// The two pixel buffers: while frame n is read back into one, frame n - 1
// goes from the other to the encoder, and its stretch of sound to the WAV file.
struct PixelBuffers {
    PixelBufferFunctions gl{};
    GLuint names[2] = {};
    size_t frameBytes = 0;
    std::vector<int16_t> samples;
};

// Sends frame n from its buffer, and its sound; false when ffmpeg is gone.
static bool sendFrame(const FramePass& pass, PixelBuffers& b, FramesDone& done, uint32_t n)
{
    b.gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, b.names[n % 2]);
    const void* pixels = b.gl.glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
    const bool ok = pixels && writeToChild(*pass.encoder, pixels, b.frameBytes);
    b.gl.glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    if (ok && pass.music) writeFrameSound(pass.music, pass.rate, pass.fps, n, pass.soundFile, done, b.samples);
    return ok;
}

void writeFrameSound(MusicReader* music, long rate, uint32_t fps, uint32_t n, FILE* file, FramesDone& done,
                     std::vector<int16_t>& samples)
{
    const uint64_t end = uint64_t(n + 1) * uint64_t(rate) / fps;
    const uint64_t count = end - done.soundFrames;
    samples.resize(size_t(count) * 2);
    readMusicFrames(music, samples.data(), count);
    done.soundWritten = done.soundWritten && std::fwrite(samples.data(), 4, count, file) == count;
    done.soundFrames = end;
}

static void showProgress(bool onTerminal, uint32_t readBack, uint32_t frameCount, double elapsedSeconds,
                         uint32_t& nextTenth)
{
    if (!onTerminal) {
        logProgressTenth("vantrop-render video", "frame", readBack, frameCount, nextTenth);
        return;
    }
    const double rate = readBack / std::max(elapsedSeconds, 1e-6);
    std::fprintf(stderr, "\rframe %u of %u  %.1f frames/s  %s left   ", readBack, frameCount, rate,
                 clockText((frameCount - readBack) / rate).c_str());
}

FramesDone sendFrames(const FramePass& pass)
{
    FramesDone done;
    PixelBuffers b;
    lookUpPixelBuffers(*pass.offline, b.gl);
    b.frameBytes = size_t(pass.width) * pass.height * 3;
    b.gl.glGenBuffers(2, b.names);
    for (GLuint name : b.names) {
        b.gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, name);
        b.gl.glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(b.frameBytes), nullptr, GL_STREAM_READ);
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    const bool onTerminal = stderrIsTerminal();
    uint32_t nextTenth = 1, readBack = 0;
    const auto started = std::chrono::steady_clock::now();
    for (uint32_t n = 0; n < pass.frameCount && !*pass.interrupted && !done.pipeBroken; ++n) {
        if (pass.stopWhenInputEnds && standardInputEnded()) {
            done.inputEnded = true;
            break;
        }
        renderFrame(*pass.offline->renderer, pass.offline->schedule,
                    pass.from + uint32_t(uint64_t(pass.firstFrame + n) * 1000 / pass.fps));
        b.gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, b.names[n % 2]);
        glReadPixels(0, 0, pass.width, pass.height, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        readBack = n + 1;
        if (n > 0) {
            done.pipeBroken = !sendFrame(pass, b, done, n - 1);
            done.sent += !done.pipeBroken;
        }
        readFromChild(*pass.encoder, done.ffmpegSaid);
        passOnLines(done.ffmpegSaid, done.ffmpegLast);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        showProgress(onTerminal, readBack, pass.frameCount, elapsed, nextTenth);
    }
    // The last frame read back is still waiting in its buffer.
    if (!done.pipeBroken && readBack > done.sent) {
        done.pipeBroken = !sendFrame(pass, b, done, readBack - 1);
        done.sent += !done.pipeBroken;
    }
    if (onTerminal) std::fputc('\n', stderr);
    b.gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    b.gl.glDeleteBuffers(2, b.names);
    return done;
}

std::string findFfmpeg(const std::string& command)
{
    const std::string ffmpeg = findProgram("ffmpeg");
    if (!ffmpeg.empty()) return ffmpeg;
#ifdef _WIN32
    std::fprintf(stderr,
                 "%s: ffmpeg.exe was found neither beside vantrop-render.exe nor on PATH; download a Windows "
                 "build of ffmpeg (https://ffmpeg.org/download.html) and put its ffmpeg.exe beside "
                 "vantrop-render.exe\n",
                 command.c_str());
#else
    std::fprintf(stderr,
                 "%s: the ffmpeg program was found neither beside vantrop-render nor on PATH; install it (Debian "
                 "package ffmpeg)\n",
                 command.c_str());
#endif
    return "";
}
