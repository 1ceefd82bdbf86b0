#include "render_tool/encoder.h"

#include <algorithm>

static constexpr int WAV_HEADER_BYTES = 44;

// The encoder's settings, the same for a whole export and a join: the
// colours turned into video with the BT.709 matrix and recorded as such,
// which is what players assume for HD and are told for every other size.
static std::vector<std::string> h264Arguments(std::vector<std::string> args, const std::string& filters,
                                              const std::string& path)
{
    // clang-format off
    args.insert(args.end(), {"-vf", filters + "scale=out_color_matrix=bt709:out_range=tv", "-c:v", "libx264",
        "-preset", "veryfast", "-crf", "18", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries",
        "bt709", "-color_trc", "bt709", "-color_range", "tv", "-movflags", "+faststart", "file:" + path});
    // clang-format on
    return args;
}

// ffmpeg reading raw RGB frames of width x height at fps on its input.
static std::vector<std::string> rawFramesInput(const std::string& ffmpeg, int width, int height, uint32_t fps)
{
    // clang-format off
    return {ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24",
        "-video_size", std::to_string(width) + "x" + std::to_string(height), "-framerate", std::to_string(fps),
        "-i", "pipe:0"};
    // clang-format on
}

std::vector<std::string> pictureEncoderArguments(const std::string& ffmpeg, int width, int height, uint32_t fps,
                                                 const std::string& path)
{
    // GL hands rows bottom first; ffmpeg flips them.
    return h264Arguments(rawFramesInput(ffmpeg, width, height, fps), "vflip,", path);
}

std::vector<std::string> partEncoderArguments(const std::string& ffmpeg, int width, int height, uint32_t fps,
                                              const std::string& tagKey, const std::string& tag,
                                              const std::string& path)
{
    std::vector<std::string> args = rawFramesInput(ffmpeg, width, height, fps);
    // Every frame a key frame, so that any part can be read from its start;
    // bitexact leaves out what would differ between runs (the muxer's
    // random identifiers, the library's version).
    args.insert(args.end(),
                {"-vf", "vflip", "-c:v", "ffv1", "-level", "3", "-g", "1", "-pix_fmt", "bgr0", "-fflags", "+bitexact",
                 "-flags", "+bitexact", "-metadata", tagKey + "=" + tag, "-f", "matroska", "file:" + path});
    return args;
}

std::vector<std::string> partProbeArguments(const std::string& ffmpeg, const std::string& part,
                                            const std::string& metadataPath, const std::string& framesPath)
{
    return {ffmpeg,
            "-hide_banner",
            "-loglevel",
            "error",
            "-nostdin",
            "-y",
            "-i",
            "file:" + part,
            "-f",
            "ffmetadata",
            "file:" + metadataPath,
            "-map",
            "0:v",
            "-c",
            "copy",
            "-f",
            "framemd5",
            "file:" + framesPath};
}

std::vector<std::string> joinEncoderArguments(const std::string& ffmpeg, const std::string& list, uint32_t fps,
                                              const std::string& path)
{
    // The parts' frames come back upright as RGB, the very bytes that pass
    // one's flip gives the scaler; their timestamps (whole milliseconds in
    // Matroska) are put back on the frame rate's grid.
    return h264Arguments({ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "concat", "-safe", "0",
                          "-i", "file:" + list, "-r", std::to_string(fps)},
                         "format=rgb24,", path);
}

std::vector<std::string> soundJoinArguments(const std::string& ffmpeg, const std::string& pictures,
                                            const std::string& sound, const std::string& path)
{
    // clang-format off
    return {ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
        "-i", "file:" + pictures, "-i", "file:" + sound, "-map", "0:v", "-map", "1:a",
        "-c:v", "copy", "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", "file:" + path};
    // clang-format on
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
