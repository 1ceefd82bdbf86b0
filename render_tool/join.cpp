#include "render_tool/join.h"

#include "cli/command_line.h"
#include "cli/options.h"
#include "files/output_file.h"
#include "music/music.h"
#include "process/child.h"
#include "render_tool/encoder.h"
#include "render_tool/frame_pass.h"
#include "render_tool/part.h"
#include "render_tool/stop_signals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

static constexpr const char* COMMAND = "vantrop-render join";
// How often the join looks at ffmpeg and at a stop signal while it works, milliseconds.
static constexpr int WAIT_STEP_MS = 20;

struct JoinOptions {
    std::vector<std::string> parts;
    std::string out, music = MUSIC_FILE_NAME;
    bool musicGiven = false, force = false;
};

struct Part {
    std::string path;
    PartTag tag;
};

static int parseJoinOptions(int argc, char** argv, JoinOptions& o)
{
    const std::string musicHelp =
        std::string("the sound track (") + MUSIC_FORMATS + "); without it the video is silent";
    const CommandLine line{COMMAND,
                           "PART... --out FILE.mp4 [--music FILE] [--force]",
                           "Puts together the parts of an export that 'vantrop-render video --part K/N'\n"
                           "drew, on one machine or many: checks that they are all the parts of one\n"
                           "export, then encodes their frames once, as a whole export encodes them, with\n"
                           "the music's stretch as the sound. The video decodes to the same frames as\n"
                           "'vantrop-render video' with the same options draws in one go.\n",
                           {required(textsOption("", "PART...", &o.parts, "the part files, in any order")),
                            required(textOption("--out", "FILE.mp4", &o.out, "the video's file: .mp4, .mkv or .mov")),
                            noticed(textOption("--music", "FILE", &o.music, musicHelp.c_str()), &o.musicGiven),
                            forceOption(&o.force)},
                           "A part that is missing, given twice, short of its frames or of another export\n"
                           "is named, and nothing is written. The video is written to a temporary file\n"
                           "beside FILE and moved into place when done.\n",
                           ""};
    return parseCommandLine(line, argc, argv);
}

static int failed(const std::string& error)
{
    std::fprintf(stderr, "%s: %s\n", COMMAND, error.c_str());
    return EXIT_FAILED;
}

// Runs ffmpeg to its end, passing its lines on; "" when it succeeded, else
// why not. A stop signal stops it.
static std::string runFfmpeg(const std::vector<std::string>& args)
{
    Child child;
    std::string error, said, last;
    if (!startChild(child, args, CHILD_INPUT | CHILD_ERRORS, &error)) return error;
    ChildEnd end;
    while (!childEnded(child, end, said)) {
        if (*stopSignal()) {
            interruptChild(child, said);
            return "stopped by " + signalText(*stopSignal());
        }
        passOnLines(said, last, COMMAND);
        std::this_thread::sleep_for(std::chrono::milliseconds(WAIT_STEP_MS));
    }
    if (!said.empty() && said.back() != '\n') said += '\n';
    passOnLines(said, last, COMMAND);
    return describeChildEnd("ffmpeg", end, last);
}

// Reads a part file's tag and counts its frames, through ffmpeg (which
// writes them to temporary files beside the video); false with *error.
static bool probePart(const std::string& ffmpeg, const std::string& out, Part& part, std::string* error)
{
    std::error_code code;
    if (!fs::is_regular_file(part.path, code)) {
        *error = part.path + " is not a file; give the part files that 'vantrop-render video --part K/N' wrote";
        return false;
    }
    const std::string metadata = makeTemporaryBeside(out, ".txt", error);
    const std::string frames = metadata.empty() ? "" : makeTemporaryBeside(out, ".txt", error);
    std::string failure = frames.empty() ? *error : runFfmpeg(partProbeArguments(ffmpeg, part.path, metadata, frames));
    std::string tagLine;
    uint32_t count = 0;
    std::ifstream tagIn(metadata), framesIn(frames);
    for (std::string line; std::getline(tagIn, line);)
        if (line.rfind(std::string(PART_TAG_KEY) + "=", 0) == 0) tagLine = line.substr(std::strlen(PART_TAG_KEY) + 1);
    for (std::string line; std::getline(framesIn, line);) count += !line.empty() && line[0] != '#';
    for (const std::string& path : {metadata, frames})
        if (!path.empty()) std::remove(path.c_str());
    // The metadata file escapes its special characters with a backslash; a tag has none of its own.
    tagLine.erase(std::remove(tagLine.begin(), tagLine.end(), '\\'), tagLine.end());
    if (!failure.empty())
        *error = part.path + " could not be read as a video (" + failure + ")";
    else if (!parsePartTag(tagLine, part.tag))
        *error = part.path +
            " is not a part of an export (it has no part tag); make parts with "
            "'vantrop-render video --part K/N'";
    else if (count != part.tag.frames)
        *error = part.path + " is short: " + std::to_string(count) + " of its " + std::to_string(part.tag.frames) +
            " frames; draw part " + std::to_string(part.tag.index) + "/" + std::to_string(part.tag.count) + " again";
    return failure.empty() && error->empty();
}

// "" when the parts are every part of one export, once each; else what is wrong.
static std::string checkParts(std::vector<Part>& parts)
{
    std::sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.tag.index < b.tag.index; });
    const PartTag& first = parts.front().tag;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (const std::string why = partMismatch(first, parts[i].tag); !why.empty())
            return parts[i].path + " is part of another export than " + parts.front().path + ": " + why;
        if (i > 0 && parts[i].tag.index == parts[i - 1].tag.index)
            return parts[i - 1].path + " and " + parts[i].path + " are both part " +
                std::to_string(parts[i].tag.index) + "/" + std::to_string(first.count);
    }
    std::string missing;
    for (uint32_t k = 1, i = 0; k <= first.count; ++k) {
        if (i < parts.size() && parts[i].tag.index == k) {
            ++i;
            continue;
        }
        missing += (missing.empty() ? "" : ", ") + std::to_string(k) + "/" + std::to_string(first.count);
    }
    if (!missing.empty())
        return "part " + missing + " missing; give every part of the export, 1 to " + std::to_string(first.count);
    return "";
}

// The concat list of the parts in order, each by its absolute name; false with *error.
static bool writePartList(const std::vector<Part>& parts, const std::string& list, std::string* error)
{
    std::ofstream out(list, std::ios::binary);
    for (const Part& part : parts) {
        std::string name = fs::absolute(part.path).string(), quoted;
        for (char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        out << "file 'file:" << quoted << "'\n";
    }
    out.close();
    if (!out) *error = "cannot write the list of parts beside the video (" + list + ")";
    return bool(out);
}

// The music's stretch of the export, a frame's worth at a time as a whole
// export writes it, into a WAV file; "" or why not.
static std::string writeSound(const JoinOptions& o, const PartTag& t, uint32_t frames, const std::string& wav)
{
    std::string error;
    long rate = 0;
    MusicReader* music = openMusicReader(o.music.c_str(), t.fromMs, &rate, &error);
    if (!music) return error;
    FILE* file = std::fopen(wav.c_str(), "wb");
    FramesDone done;
    std::vector<int16_t> samples;
    bool written = file && writeWavHeader(file, rate, 0);
    for (uint32_t n = 0; written && n < frames && !*stopSignal(); ++n)
        writeFrameSound(music, rate, t.fps, n, file, done, samples);
    written = written && done.soundWritten && std::fflush(file) == 0 && writeWavHeader(file, rate, done.soundFrames);
    written = file && std::fclose(file) == 0 && written;
    closeMusicReader(music);
    if (*stopSignal()) return "stopped by " + signalText(*stopSignal());
    return written ? "" : "the sound could not be written beside the video (" + wav + ")";
}

// Encodes the checked parts (and the sound) into `out`; the exit status, said.
static int joinParts(const JoinOptions& o, const std::string& ffmpeg, const std::vector<Part>& parts, bool withSound)
{
    const auto started = std::chrono::steady_clock::now();
    const PartTag& t = parts.front().tag;
    uint32_t frames = 0;
    for (const Part& part : parts) frames += part.tag.frames;
    std::fprintf(stderr, "%s: joining %zu parts, %u frames at %u fps\n", COMMAND, parts.size(), frames, t.fps);
    const std::string extension = o.out.substr(o.out.rfind('.'));
    std::string error;
    std::vector<std::string> temporary;
    for (const char* kind : {".txt", extension.c_str(), ".wav", extension.c_str()})
        if (error.empty()) temporary.push_back(makeTemporaryBeside(o.out, kind, &error));
    if (error.empty() && writePartList(parts, temporary[0], &error))
        error = runFfmpeg(joinEncoderArguments(ffmpeg, temporary[0], t.fps, temporary[1]));
    if (error.empty() && withSound) error = writeSound(o, t, frames, temporary[2]);
    if (error.empty() && withSound)
        error = runFfmpeg(soundJoinArguments(ffmpeg, temporary[1], temporary[2], temporary[3]));
    const bool moved = error.empty() && finishOutput(temporary[withSound ? 3 : 1], o.out, o.force, &error);
    for (const std::string& path : temporary)
        if (!path.empty()) std::remove(path.c_str());
    if (!moved)
        return *stopSignal() ? EXIT_SIGNAL_BASE + *stopSignal() : failed(error + "; " + o.out + " was not written");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "%s: wrote %s (%s, %u frames at %u fps, %dx%d, %s) in %.1f s, %.2f ms a frame\n", COMMAND,
                 o.out.c_str(), clockText(double(frames) / t.fps).c_str(), frames, t.fps, t.width, t.height,
                 fileSizeText(o.out).c_str(), seconds, 1000.0 * seconds / frames);
    return EXIT_DONE;
}

int runJoin(int argc, char** argv)
{
    catchStopSignals();
    JoinOptions o;
    if (const int status = parseJoinOptions(argc, argv, o); status >= 0) return status;
    std::string error;
    std::error_code missing;
    const bool withSound = o.musicGiven || fs::exists(o.music, missing);
    std::vector<std::string> inputs = o.parts;
    inputs.push_back(o.music);
    if (!checkOutputPath(o.out, {".mp4", ".mkv", ".mov"}, inputs, &error) || !checkNameFree(o.out, o.force, &error))
        return failed(error);
    uint32_t musicLength = 0;
    if (withSound && !readMusicLength(o.music.c_str(), &musicLength, &error)) return failed(error);
    const std::string ffmpeg = findFfmpeg(COMMAND);
    if (ffmpeg.empty()) return EXIT_FAILED;
    std::vector<Part> parts;
    for (const std::string& path : o.parts) {
        parts.push_back({path, {}});
        if (!probePart(ffmpeg, o.out, parts.back(), &error)) return failed(error + "; nothing was written");
    }
    if (const std::string wrong = checkParts(parts); !wrong.empty()) return failed(wrong + "; nothing was written");
    if (!withSound)
        std::fprintf(stderr, "%s: no %s here, so the video is silent (give one with --music)\n", COMMAND,
                     o.music.c_str());
    return joinParts(o, ffmpeg, parts, withSound);
}
