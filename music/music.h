// The music and the show's clock: one MP3 stream decoded with libmpg123 and
// played once through SDL2's audio device, and how far playback has got.
#pragma once
#include <cstdint>
#include <string>

// How long the show runs when the stream's length cannot be determined, in milliseconds.
inline constexpr uint32_t DEFAULT_SHOW_LENGTH_MS = 120000;
// The music file, opened from the working directory.
inline constexpr const char* MUSIC_FILE_NAME = "lomu_hmm.mp3";

struct MusicPlayer {
    uint32_t lengthMs = DEFAULT_SHOW_LENGTH_MS; // stream length, milliseconds
    uint32_t positionMs = 0;                    // last position read, milliseconds
};

struct LibraryVersion {
    int major, minor, patch;
};

// True when `have` is `minimum` or newer.
bool versionAtLeast(LibraryVersion have, LibraryVersion minimum);
// Checks SDL2's and libmpg123's versions against the program's minimums; *error names the old one.
bool audioLibrariesSupported(LibraryVersion sdl, LibraryVersion mpg123, std::string* error);
// The running SDL2 and libmpg123 versions.
LibraryVersion runningSdlVersion();
LibraryVersion runningMpg123Version();

// Reads a stream's exact length without playing it; *error names the file and the reason.
bool readMusicLength(const char* fileName, uint32_t* lengthMs, std::string* error);
// Decodes a whole stream without playing it, as playback would; *sampleFrames is how many it held.
bool decodeMusicFile(const char* fileName, uint64_t* sampleFrames, std::string* error);
// Opens the stream, reads its exact length and starts playback from the
// beginning, once. Falls back to a silent real-time clock (SDL's dummy
// driver) when no audio device opens, and goes on on a silent real-time clock
// from where it was when the device is lost mid-stream. *error names the file
// or library and the reason.
bool startMusic(MusicPlayer& player, const char* fileName, std::string* error);
// Reads the position (milliseconds heard so far) into player.positionMs and returns it:
// smooth, never backwards, and at least lengthMs once the stream has played out.
uint32_t readMusicPosition(MusicPlayer& player);
// True when playback runs on the silent clock (no audio device, or it was lost).
bool musicIsSilent();
// Stops playback, releases the stream and the device, shuts SDL's audio down.
void stopMusic(MusicPlayer& player);
