#include "render_tool/export_video.h"

#define GL_GLEXT_PROTOTYPES
#include "music/music.h"
#include "render/renderer.h"
#include "render_tool/offline.h"
#include "timeline/schedule.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static constexpr uint32_t DEFAULT_FPS = 60;
static constexpr uint32_t MAX_FPS = 240;
// The shell's 128 + the signal's number, as if the signal had ended the program.
static constexpr int EXIT_SIGNAL_BASE = 128;
static constexpr int WAV_HEADER_BYTES = 44;

static const char* const VIDEO_HELP =
    "usage: vantrop-render video --out FILE.mp4 [--fps N] [--size WxH] [--from MS] [--to MS] [--music FILE]\n"
    "\n"
    "Exports the show as an H.264 MP4 video with the music's matching stretch as\n"
    "its sound, through the ffmpeg program (Debian package ffmpeg). Frame n shows\n"
    "the music position FROM + n * 1000 / N milliseconds (rounded down).\n"
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
    "Ctrl+C stops the export and keeps a playable file of the frames done so far.\n";

static volatile std::sig_atomic_t interrupted;

static void onInterrupt(int signal)
{
    interrupted = signal;
}

static bool onPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

struct Encoder {
    pid_t pid = -1;
    int input = -1; // raw frames go here
};

// Starts ffmpeg reading raw RGB frames (bottom row first) on a pipe. It runs
// in its own process group, so that Ctrl+C reaches only this program, which
// then closes the pipe and lets ffmpeg finish a playable file.
static bool startEncoder(Encoder& encoder, const std::vector<std::string>& args)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    encoder.pid = fork();
    if (encoder.pid < 0) return false;
    if (encoder.pid == 0) {
        setpgid(0, 0);
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[0]);
    encoder.input = fds[1];
    return true;
}

static bool writeAll(int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

static int finishEncoder(Encoder& encoder)
{
    if (encoder.input >= 0) close(encoder.input);
    encoder.input = -1;
    int status = 0;
    while (waitpid(encoder.pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static std::string clockText(double seconds)
{
    char text[32];
    const int s = int(seconds + 0.5);
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
    return text;
}

struct VideoOptions {
    std::string out, music = MUSIC_FILE_NAME;
    bool musicGiven = false, toGiven = false;
    uint32_t fps = DEFAULT_FPS, from = 0, to = 0;
    int width = DEFAULT_WIDTH, height = DEFAULT_HEIGHT;
};

static int parseVideoOptions(int argc, char** argv, VideoOptions& o)
{
    std::string error;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (isHelp(argv[i])) {
            std::fputs(VIDEO_HELP, stdout);
            return 0;
        }
        if (i + 1 >= argc) return usageError("video", "unknown argument or missing value: '" + arg + "'");
        const char* value = argv[++i];
        if (arg == "--out") {
            o.out = value;
        } else if (arg == "--music") {
            o.music = value;
            o.musicGiven = true;
        } else if (arg == "--size") {
            if (!parseSize(value, o.width, o.height, &error)) return usageError("video", error);
            if (o.width % 2 || o.height % 2) return usageError("video", "H.264 needs an even width and height");
        } else if (arg == "--fps") {
            if (!parseUint32(value, o.fps) || o.fps == 0 || o.fps > MAX_FPS)
                return usageError("video", std::string("bad --fps '") + value + "': give 1 to 240");
        } else if (arg == "--from" || arg == "--to") {
            uint32_t& target = arg == "--from" ? o.from : o.to;
            if (!parseUint32(value, target) || target > uint32_t(INT32_MAX))
                return usageError("video", "bad " + arg + " '" + value + "': give whole milliseconds");
            o.toGiven = o.toGiven || arg == "--to";
        } else {
            return usageError("video", "unknown argument '" + arg + "'");
        }
    }
    if (o.out.empty()) return usageError("video", "--out FILE.mp4 is required");
    return -1;
}

// Writes the music's stretch from `fromMs` as a 16-bit stereo WAV file of
// exactly `frames` sample frames, silent where the music has ended.
static bool writeSoundStretch(const std::string& music, uint32_t fromMs, uint64_t frames, long rate,
                              const std::vector<int16_t>& samples, const std::string& path, std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot write the sound of the video to " + path + ": " + std::strerror(errno);
        return false;
    }
    const uint64_t dataBytes = frames * 4;
    auto le32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) std::fputc(int((v >> (8 * i)) & 0xff), file);
    };
    auto le16 = [&](uint16_t v) { std::fputc(v & 0xff, file), std::fputc(v >> 8, file); };
    std::fputs("RIFF", file);
    le32(uint32_t(std::min<uint64_t>(dataBytes + WAV_HEADER_BYTES - 8, UINT32_MAX)));
    std::fputs("WAVEfmt ", file);
    le32(16), le16(1), le16(2), le32(uint32_t(rate)), le32(uint32_t(rate) * 4), le16(4), le16(16);
    std::fputs("data", file);
    le32(uint32_t(std::min<uint64_t>(dataBytes, UINT32_MAX)));
    const uint64_t first = uint64_t(fromMs) * uint64_t(rate) / 1000, available = samples.size() / 2;
    const uint64_t fromMusic = first < available ? std::min(frames, available - first) : 0;
    if (fromMusic) std::fwrite(samples.data() + first * 2, 4, fromMusic, file);
    const std::vector<int16_t> silence(8192 * 2, 0);
    for (uint64_t left = frames - fromMusic; left > 0;) {
        const uint64_t n = std::min<uint64_t>(left, 8192);
        std::fwrite(silence.data(), 4, n, file);
        left -= n;
    }
    const bool written = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !written) {
        *error = "cannot write the sound of the video to " + path + " (" + music + "): " + std::strerror(errno);
        return false;
    }
    return true;
}

int runVideo(int argc, char** argv)
{
    VideoOptions o;
    if (const int status = parseVideoOptions(argc, argv, o); status >= 0) return status;

    std::string error;
    bool haveMusic = access(o.music.c_str(), F_OK) == 0 || o.musicGiven;
    uint32_t musicLength = SHOW_END_MS;
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
    if (o.from >= o.to) return usageError("video", "--from must lie before --to (" + std::to_string(o.to) + " ms)");
    if (!checkOutputPath(o.out, {".mp4", ".mkv", ".mov"}, {o.music}, &error)) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        return 1;
    }
    if (!onPath("ffmpeg")) {
        std::fprintf(stderr,
                     "vantrop-render video: the ffmpeg program was not found on PATH; install it "
                     "(Debian package ffmpeg)\n");
        return 1;
    }

    // Frame n shows FROM + floor(n * 1000 / FPS) ms; the frames are those before TO.
    const uint32_t frameCount = uint32_t((uint64_t(o.to - o.from) * o.fps + 999) / 1000);

    std::string extension = o.out.substr(o.out.rfind('.'));
    const std::string temporary = makeTemporaryBeside(o.out, extension, &error);
    if (temporary.empty()) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        return 1;
    }
    std::string sound;
    auto cleanUp = [&] {
        std::remove(temporary.c_str());
        if (!sound.empty()) std::remove(sound.c_str());
    };
    if (haveMusic) {
        std::vector<int16_t> samples;
        uint64_t decoded = 0;
        long rate = 0;
        sound = makeTemporaryBeside(o.out, ".wav", &error);
        if (sound.empty() || !decodeMusicFile(o.music.c_str(), &samples, &decoded, &rate, &error) ||
            !writeSoundStretch(o.music, o.from, uint64_t(frameCount) * uint64_t(rate) / o.fps, rate, samples, sound,
                               &error)) {
            std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
            cleanUp();
            return 1;
        }
    }

    if (!openOfflineRenderer(o.width, o.height, &error)) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        cleanUp();
        return 1;
    }

    // clang-format off
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
        "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size", std::to_string(o.width) + "x" + std::to_string(o.height),
        "-framerate", std::to_string(o.fps), "-i", "pipe:0"};
    if (haveMusic) args.insert(args.end(), {"-i", "file:" + sound});
    // GL hands rows bottom first; ffmpeg flips them. The colours are turned
    // into video with the BT.709 matrix and recorded as such, which is what
    // players assume for HD and are told for every other size.
    args.insert(args.end(), {"-vf", "vflip,scale=out_color_matrix=bt709:out_range=tv", "-map", "0:v", "-c:v",
                             "libx264", "-preset", "veryfast", "-crf", "18", "-pix_fmt", "yuv420p", "-colorspace",
                             "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", "-color_range", "tv",
                             "-movflags", "+faststart"});
    if (haveMusic) args.insert(args.end(), {"-map", "1:a", "-c:a", "aac", "-b:a", "192k"});
    args.push_back("file:" + temporary);
    // clang-format on

    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    Encoder encoder;
    if (!startEncoder(encoder, args)) {
        std::fprintf(stderr, "vantrop-render video: cannot start ffmpeg: %s\n", std::strerror(errno));
        cleanUp();
        return 1;
    }

    // Two pixel buffers: while frame n is read back into one, frame n - 1
    // goes from the other to the encoder.
    const size_t frameBytes = size_t(o.width) * o.height * 3;
    GLuint buffers[2];
    glGenBuffers(2, buffers);
    for (GLuint b : buffers) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, b);
        glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(frameBytes), nullptr, GL_STREAM_READ);
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    auto sendFrame = [&](uint32_t n) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[n % 2]);
        const void* pixels = glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
        const bool ok = pixels && writeAll(encoder.input, pixels, frameBytes);
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
        return ok;
    };

    const bool showProgress = stderrIsTerminal();
    const auto started = std::chrono::steady_clock::now();
    uint32_t sent = 0, readBack = 0;
    bool pipeBroken = false;
    for (uint32_t n = 0; n < frameCount && !interrupted && !pipeBroken; ++n) {
        renderFrame(o.from + uint32_t(uint64_t(n) * 1000 / o.fps));
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[n % 2]);
        glReadPixels(0, 0, o.width, o.height, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        readBack = n + 1;
        if (n > 0) {
            pipeBroken = !sendFrame(n - 1);
            sent += !pipeBroken;
        }
        if (showProgress) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            const double rate = readBack / std::max(elapsed, 1e-6);
            std::fprintf(stderr, "\rframe %u of %u  %.1f frames/s  %s left   ", readBack, frameCount, rate,
                         clockText((frameCount - readBack) / rate).c_str());
        }
    }
    // The last frame read back is still waiting in its buffer.
    if (!pipeBroken && readBack > sent) {
        pipeBroken = !sendFrame(readBack - 1);
        sent += !pipeBroken;
    }
    if (showProgress) std::fputc('\n', stderr);
    const int encoderStatus = finishEncoder(encoder);
    if (!sound.empty()) std::remove(sound.c_str());
    if (encoderStatus != 0) {
        std::fprintf(stderr, "vantrop-render video: ffmpeg failed (exit status %d) writing %s; its message is above\n",
                     encoderStatus, o.out.c_str());
        cleanUp();
        return 1;
    }
    if (pipeBroken) {
        std::fprintf(stderr, "vantrop-render video: ffmpeg stopped taking frames after %u of %u; nothing was written\n",
                     sent, frameCount);
        cleanUp();
        return 1;
    }
    if (!moveIntoPlace(temporary, o.out, &error)) {
        std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
        return 1;
    }
    if (interrupted) {
        std::fprintf(stderr, "vantrop-render video: stopped; %s holds the first %u frames\n", o.out.c_str(), sent);
        return EXIT_SIGNAL_BASE + interrupted;
    }
    return 0;
}
