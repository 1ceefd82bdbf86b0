#include "render_tool/export_video.h"

#include "cli/command_line.h"
#include "files/output_file.h"
#include "music/music.h"
#include "process/child.h"
#include "render_tool/encoder.h"
#include "render_tool/frame_pass.h"
#include "render_tool/offline.h"
#include "render_tool/part.h"
#include "render_tool/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

static constexpr uint32_t DEFAULT_FPS = 60;
static constexpr uint32_t MAX_FPS = 240;

struct VideoOptions {
    std::string out, music = MUSIC_FILE_NAME;
    bool musicGiven = false, toGiven = false, stopWhenInputEnds = false, force = false;
    bool reserved = false; // FILE is an empty file that holds the name for this export
    uint32_t fps = DEFAULT_FPS, from = 0, to = 0;
    PictureSize size;
    std::string part; // --part K/N, read into `tag`; "" for the whole export
    PartTag tag;
};

// Reads the command line into `o` and `offline`: -1 to go on, else the exit status.
static int parseVideoOptions(int argc, char** argv, VideoOptions& o, Offline& offline)
{
    DrawingSources sources;
    const std::string musicHelp =
        std::string("the sound track (") + MUSIC_FORMATS + "); without it the video is silent";
    const CommandLine line{
        "vantrop-render video",
        "--out FILE.mp4 [--fps N] [--size WxH] [--from MS] [--to MS] [--music FILE] [--shaders DIR]\n"
        "                            [--schedule FILE] [--tracks FILE] [--part K/N] [--force] "
        "[--stop-when-input-ends]\n"
        "                            [--reserved]",
        "Exports the show as an H.264 MP4 video with the music's matching stretch as\n"
        "its sound, through the ffmpeg program (Debian package ffmpeg; on Windows\n"
        "ffmpeg.exe beside this program or on PATH). Frame n shows the music\n"
        "position FROM + n * 1000 / N milliseconds (rounded down).\n",
        {required(textOption("--out", "FILE.mp4", &o.out, "the video's file: .mp4, .mkv or .mov")),
         countOption("--fps", "N", &o.fps, 1, MAX_FPS, "frames per second"),
         sizeOption("--size", &o.size, "any 16:9 size with even width and height"),
         positionOption("--from", &o.from, "first position in milliseconds"),
         noticed(defaultSaid(positionOption("--to", &o.to, "end position, not included"),
                             "the music's length, or the end of the picture without music"),
                 &o.toGiven),
         noticed(textOption("--music", "FILE", &o.music, musicHelp.c_str()), &o.musicGiven),
         shadersOption(&sources.shaders), scheduleOption(&sources.schedule), tracksOption(&sources.tracks),
         textOption("--part", "K/N", &o.part,
                    "draw only the K-th of N stretches of the export's frames, without sound, "
                    "into a lossless part file (.mkv) that 'vantrop-render join' puts together "
                    "with the others"),
         forceOption(&o.force),
         flagOption("--stop-when-input-ends", &o.stopWhenInputEnds,
                    "stop as Ctrl+C does when this program's input ends (for a "
                    "program that runs this one on a pipe, as the studio does)"),
         flagOption("--reserved", &o.reserved,
                    "FILE is an empty file that the program running this one made to "
                    "hold the name (as the studio does): the video takes its place only "
                    "while it is still empty, never over a file another program wrote")},
        "The video is exactly FROM to TO long; where the music ends sooner, the rest is\n"
        "silent. Colours are recorded as BT.709. It is written to a temporary file\n"
        "beside FILE and moved into place when done, so a failed export leaves nothing\n"
        "behind and never touches the music file. Ctrl+C stops the export and keeps a\n"
        "playable file of the frames done so far.\n"
        "\n"
        "With --part K/N, several machines each draw a part ('vantrop-render join' puts\n"
        "them together): a part needs the music only for the export's end, when --to\n"
        "is not given, and a stopped part leaves nothing.\n",
        ""};
    if (const int status = parseCommandLine(line, argc, argv); status >= 0) return status;
    std::string error;
    if (o.size.width % 2 || o.size.height % 2) return usageError(line.command, "H.264 needs an even width and height");
    if (!o.part.empty() && !parsePartSpec(o.part, o.tag, &error)) return usageError(line.command, error);
    if (!useDrawingSources(offline, sources, &error)) return usageError(line.command, error);
    return -1;
}

// The export's frames: frame n shows FROM + floor(n * 1000 / FPS) ms, and they are those before TO.
static uint32_t exportFrames(const VideoOptions& o)
{
    return uint32_t((uint64_t(o.to - o.from) * o.fps + 999) / 1000);
}

// A part's frames and what it is drawn with, in its tag; -1 to go on, else the exit status.
static int choosePart(VideoOptions& o, const Offline& offline)
{
    if (o.part.empty()) return -1;
    if (o.tag.count > exportFrames(o))
        return usageError("vantrop-render video",
                          "--part " + o.part + ": the export has " + std::to_string(exportFrames(o)) +
                              " frames; cut it into at most that many parts");
    choosePartFrames(o.tag, exportFrames(o));
    o.tag.width = o.size.width;
    o.tag.height = o.size.height;
    o.tag.fps = o.fps;
    o.tag.fromMs = o.from;
    o.tag.toMs = o.to;
    digestDrawingSources(offline, o.tag);
    return -1;
}

// Ends the export after a signal: nothing of the temporary files is left.
static int stoppedBeforeAnyFrame(const std::string& out, bool inputEnded = false)
{
    std::fprintf(stderr, "vantrop-render video: stopped by %s before any frame; %s was not written\n",
                 signalText(*stopSignal(), inputEnded).c_str(), out.c_str());
    return EXIT_SIGNAL_BASE + (inputEnded ? SIGINT : *stopSignal());
}

static int failed(const std::string& error)
{
    std::fprintf(stderr, "vantrop-render video: %s\n", error.c_str());
    return 1;
}

// The music's length and state, said before anything is drawn; *haveMusic
// is false for a silent video. -1 to go on, else the exit status.
static int checkMusic(VideoOptions& o, const ScheduleValues& schedule, bool* haveMusic)
{
    std::string error;
    std::error_code missing;
    // A part with its end given needs no music: it carries no sound.
    *haveMusic = (std::filesystem::exists(o.music, missing) || o.musicGiven) && (o.part.empty() || !o.toGiven);
    uint32_t musicLength = showEndMs(schedule);
    if (*haveMusic && !readMusicLength(o.music.c_str(), &musicLength, &error)) return failed(error);
    if (*haveMusic)
        if (const std::string damage = describeMusicDamage(o.music.c_str()); !damage.empty())
            std::fprintf(stderr, "vantrop-render video: %s\n", damage.c_str());
    if (!*haveMusic && o.part.empty())
        std::fprintf(stderr, "vantrop-render video: no %s here, so the video is silent (give one with --music)\n",
                     o.music.c_str());
    if (!*haveMusic && !o.part.empty() && !o.toGiven)
        std::fprintf(stderr,
                     "vantrop-render video: no %s here, so the export ends with the picture (%u ms); give every "
                     "part the same --to where some have the music\n",
                     o.music.c_str(), musicLength);
    if (!o.toGiven) o.to = musicLength;
    if (o.from >= o.to)
        return usageError("vantrop-render video", "--from must lie before --to (" + std::to_string(o.to) + " ms)");
    const std::vector<std::string> kinds =
        o.part.empty() ? std::vector<std::string>{".mp4", ".mkv", ".mov"} : std::vector<std::string>{".mkv"};
    if (!checkOutputPath(o.out, kinds, {o.music}, &error) || (!o.reserved && !checkNameFree(o.out, o.force, &error)))
        return failed(error);
    if (o.reserved && !isReservation(o.out))
        return usageError("vantrop-render video",
                          "--reserved: " + o.out +
                              " is not an empty file holding the name; make it first, or leave "
                              "out --reserved");
    return -1;
}

// The files an export writes beside FILE before the finished one takes its name.
struct VideoFiles {
    std::string pictures;  // pass one's frames
    std::string temporary; // pass two's frames and sound (with music)
    std::string sound;     // the WAV file (with music)
    FILE* soundFile = nullptr;
};

static void removeVideoFiles(VideoFiles& f)
{
    if (f.soundFile) std::fclose(f.soundFile);
    f.soundFile = nullptr;
    for (const std::string* path : {&f.pictures, &f.temporary, &f.sound})
        if (!path->empty()) std::remove(path->c_str());
}

// Names the temporary files beside `out` and opens the WAV file; false with *error.
static bool makeVideoFiles(const std::string& out, bool withSound, long rate, VideoFiles& f, std::string* error)
{
    const std::string extension = out.substr(out.rfind('.'));
    f.pictures = makeTemporaryBeside(out, extension, error);
    if (f.pictures.empty()) return false;
    if (!withSound) return true;
    f.temporary = makeTemporaryBeside(out, extension, error);
    if (!f.temporary.empty()) f.sound = makeTemporaryBeside(out, ".wav", error);
    f.soundFile = f.sound.empty() ? nullptr : std::fopen(f.sound.c_str(), "wb");
    if (f.soundFile && writeWavHeader(f.soundFile, rate, 0)) return true;
    if (error->empty()) *error = "cannot write the sound of the video beside " + out + ": " + std::strerror(errno);
    return false;
}

// Pass one's end and pass two: "" when the video is complete in its temporary file, else why not.
static std::string completeVideo(const std::string& ffmpeg, Child& encoder, FramesDone& done, VideoFiles& f, long rate,
                                 bool withSound)
{
    std::string failure = finishFfmpeg(encoder, done.ffmpegSaid, done.ffmpegLast);
    if (failure.empty() && done.pipeBroken) failure = "ffmpeg stopped taking frames";
    if (f.soundFile) {
        bool written =
            done.soundWritten && std::fflush(f.soundFile) == 0 && writeWavHeader(f.soundFile, rate, done.soundFrames);
        written = std::fclose(f.soundFile) == 0 && written;
        f.soundFile = nullptr;
        if (failure.empty() && !written)
            failure = "the sound could not be written beside it (" + std::string(std::strerror(errno)) + ")";
    }
    if (!failure.empty() || done.sent == 0 || !withSound) return failure;
    // Pass two: the frames as they are, the sound encoded beside them; a
    // signal now waits for this short pass to end.
    Child joiner;
    std::string error, joinerSaid, joinerLast;
    return startChild(joiner, soundJoinArguments(ffmpeg, f.pictures, f.sound, f.temporary), CHILD_INPUT | CHILD_ERRORS,
                      &error)
        ? finishFfmpeg(joiner, joinerSaid, joinerLast)
        : error;
}

// Both passes, from the open renderer; the exit status, with the result said.
static int exportVideo(const VideoOptions& o, Offline& offline, const std::string& ffmpeg, MusicReader* music,
                       long rate)
{
    std::string error;
    VideoFiles f;
    Child encoder;
    // Pass one: the frames alone. The sound goes to a WAV file beside it in
    // step with the frames sent, and pass two puts the two together, so
    // that the sound ends exactly where the frames end, also when a signal
    // stops the export early. ffmpeg's errors come through this program, so
    // that the reason for a failure reaches the last line.
    if (!makeVideoFiles(o.out, music != nullptr, rate, f, &error) ||
        !startChild(encoder,
                    o.part.empty() ? pictureEncoderArguments(ffmpeg, o.size.width, o.size.height, o.fps, f.pictures)
                                   : partEncoderArguments(ffmpeg, o.size.width, o.size.height, o.fps, PART_TAG_KEY,
                                                          partTagText(o.tag), f.pictures),
                    CHILD_INPUT | CHILD_ERRORS, &error)) {
        removeVideoFiles(f);
        return failed(error);
    }
    FramePass pass;
    pass.offline = &offline;
    pass.from = o.from;
    pass.fps = o.fps;
    pass.firstFrame = o.part.empty() ? 0 : o.tag.firstFrame;
    pass.frameCount = o.part.empty() ? exportFrames(o) : o.tag.frames;
    pass.width = o.size.width;
    pass.height = o.size.height;
    pass.music = music;
    pass.rate = rate;
    pass.soundFile = f.soundFile;
    pass.encoder = &encoder;
    pass.stopWhenInputEnds = o.stopWhenInputEnds;
    pass.interrupted = stopSignal();
    FramesDone done = sendFrames(pass);
    const std::string failure = completeVideo(ffmpeg, encoder, done, f, rate, music != nullptr);
    const bool stopped = *stopSignal() || done.inputEnded;
    if (failure.empty() && done.sent == 0) {
        removeVideoFiles(f);
        return stoppedBeforeAnyFrame(o.out, done.inputEnded);
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "vantrop-render video: after %u of %u frames, %s; %s was not written\n", done.sent,
                     pass.frameCount, failure.c_str(), o.out.c_str());
        removeVideoFiles(f);
        return 1;
    }
    if (stopped && !o.part.empty()) {
        std::fprintf(stderr,
                     "vantrop-render video: stopped by %s; part %s (%s) was not written: a part is whole or "
                     "nothing\n",
                     signalText(*stopSignal(), done.inputEnded).c_str(), o.part.c_str(), o.out.c_str());
        removeVideoFiles(f);
        return EXIT_SIGNAL_BASE + (done.inputEnded ? SIGINT : *stopSignal());
    }
    const std::string& finished = music ? f.temporary : f.pictures;
    const bool moved =
        o.reserved ? moveOntoReservation(finished, o.out, &error) : finishOutput(finished, o.out, o.force, &error);
    removeVideoFiles(f);
    if (!moved) return failed(error);
    const std::string length = clockText(double(done.sent) / o.fps);
    if (stopped) {
        std::fprintf(stderr,
                     "vantrop-render video: stopped by %s; kept %s with the first %u of %u frames "
                     "(%s of video and sound from %u ms)\n",
                     signalText(*stopSignal(), done.inputEnded).c_str(), o.out.c_str(), done.sent, pass.frameCount,
                     length.c_str(), o.from);
        return EXIT_SIGNAL_BASE + (done.inputEnded ? SIGINT : *stopSignal());
    }
    if (!o.part.empty()) {
        std::fprintf(stderr, "vantrop-render video: wrote part %s, %s (frames %u to %u of the export's %u, %s)\n",
                     o.part.c_str(), o.out.c_str(), o.tag.firstFrame, o.tag.firstFrame + o.tag.frames - 1,
                     exportFrames(o), fileSizeText(o.out).c_str());
        return 0;
    }
    std::fprintf(stderr, "vantrop-render video: wrote %s (%s, %u frames at %u fps, %dx%d, %s)\n", o.out.c_str(),
                 length.c_str(), done.sent, o.fps, o.size.width, o.size.height, fileSizeText(o.out).c_str());
    return 0;
}

int runVideo(int argc, char** argv)
{
    // Caught from the start, so that no signal leaves a temporary file behind.
    catchStopSignals();
    VideoOptions o;
    Offline offline;
    if (const int status = parseVideoOptions(argc, argv, o, offline); status >= 0) return status;
    bool haveMusic = false;
    if (const int status = checkMusic(o, offline.schedule, &haveMusic); status >= 0) return status;
    if (const int status = choosePart(o, offline); status >= 0) return status;
    // A part carries no sound: the join puts the music's stretch beside all of them.
    haveMusic = haveMusic && o.part.empty();
    const std::string ffmpeg = findFfmpeg("vantrop-render video");
    if (ffmpeg.empty()) return 1;
    if (*stopSignal()) return stoppedBeforeAnyFrame(o.out);
    // Only the stretch being exported is decoded, a frame's worth at a time.
    std::string error;
    long rate = 0;
    MusicReader* music = haveMusic ? openMusicReader(o.music.c_str(), o.from, &rate, &error) : nullptr;
    if (haveMusic && !music) return failed(error);
    int status = -1;
    if (!openOfflineRenderer(offline, o.size.width, o.size.height, &error)) {
        status = failed(error);
    } else if (!hasPixelBuffers(offline)) {
        std::fprintf(stderr,
                     "vantrop-render video: the OpenGL driver (%s) has no pixel buffers (OpenGL 1.5); update the "
                     "graphics driver\n",
                     rendererName().c_str());
        status = 1;
    } else if (*stopSignal()) {
        status = stoppedBeforeAnyFrame(o.out);
    } else {
        status = exportVideo(o, offline, ffmpeg, music, rate);
    }
    closeMusicReader(music);
    closeOffline(offline);
    return status;
}
