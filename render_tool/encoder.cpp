#include "render_tool/encoder.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

static constexpr int WAV_HEADER_BYTES = 44;

std::vector<std::string> pictureEncoderArguments(int width, int height, uint32_t fps, const std::string& path)
{
    // clang-format off
    return {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
        "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size", std::to_string(width) + "x" + std::to_string(height),
        "-framerate", std::to_string(fps), "-i", "pipe:0",
        // GL hands rows bottom first; ffmpeg flips them. The colours are turned
        // into video with the BT.709 matrix and recorded as such, which is what
        // players assume for HD and are told for every other size.
        "-vf", "vflip,scale=out_color_matrix=bt709:out_range=tv", "-c:v", "libx264", "-preset", "veryfast",
        "-crf", "18", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709",
        "-color_trc", "bt709", "-color_range", "tv", "-movflags", "+faststart", "file:" + path};
    // clang-format on
}

std::vector<std::string> soundJoinArguments(const std::string& pictures, const std::string& sound,
                                            const std::string& path)
{
    // clang-format off
    return {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
        "-i", "file:" + pictures, "-i", "file:" + sound, "-map", "0:v", "-map", "1:a",
        "-c:v", "copy", "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", "file:" + path};
    // clang-format on
}

bool onPath(const char* program)
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

bool startEncoder(Encoder& encoder, const std::vector<std::string>& args)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    encoder.pid = fork();
    if (encoder.pid < 0) return false;
    if (encoder.pid == 0) {
        setpgid(0, 0);
        dup2(fds[0], STDIN_FILENO);
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

bool writeAll(int fd, const void* data, size_t size)
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

std::string finishEncoder(Encoder& encoder)
{
    if (encoder.input >= 0) close(encoder.input);
    encoder.input = -1;
    int status = 0;
    while (waitpid(encoder.pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    if (WIFEXITED(status))
        return "ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status)) + " (its message is above)";
    if (WIFSIGNALED(status))
        return "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
            ") from outside";
    return "ffmpeg ended abnormally";
}

bool writeWavHeader(FILE* file, long rate, uint64_t frames)
{
    const uint64_t dataBytes = frames * 4;
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
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
    return std::fseek(file, 0, SEEK_END) == 0 && std::ferror(file) == 0;
}
