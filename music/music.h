// The music and the show's clock: one sound file (MP3 through libmpg123;
// WAV, FLAC, Ogg Vorbis or Opus through libsndfile) decoded on a thread of
// its own and played once through SDL2's audio device, and which sample of
// it is being heard.
#pragma once
#include "music/heard.h"

#include <cstdint>
#include <string>
#include <vector>

// How long the show runs when the stream's length cannot be determined, in milliseconds.
inline constexpr uint32_t DEFAULT_SHOW_LENGTH_MS = 120000;
// The sound files the programs play, in words: the Windows build reads MP3 alone.
#ifdef _WIN32
inline constexpr const char* MUSIC_FORMATS = "MP3";
#else
inline constexpr const char* MUSIC_FORMATS = "MP3, WAV, FLAC, Ogg Vorbis or Opus";
#endif
// The show's own track.
inline constexpr const char* MUSIC_FILE_NAME = "lomu_hmm.mp3";

// The user's own folder for the track: $XDG_DATA_HOME/vantrop, else
// ~/.local/share/vantrop; "" when neither variable is set.
std::string musicDataFolder();
// The track to play when none is named: MUSIC_FILE_NAME in the working
// folder, else in musicDataFolder(); the working folder's name when neither
// has it (opening it then says where to put it).
std::string defaultMusicFile();
// Where defaultMusicFile looks, in words, for help texts.
std::string defaultMusicPlaces();

// Everything playback owns: the decoder and its thread, the sample ring, the
// audio device and the clock's stamps. Made by openMusic, freed by stopMusic.
struct MusicEngine;

struct MusicPlayer {
    uint32_t lengthMs = DEFAULT_SHOW_LENGTH_MS; // stream length, milliseconds
    uint32_t positionMs = 0;                    // last position read, milliseconds
    MusicEngine* engine = nullptr;              // owned; null when not playing
    const char* program = "vantrop";            // names the program in the lines the music prints
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

// Reads a stream's exact length without playing it, with a decoder of its own; *error names the file and the reason.
bool readMusicLength(const char* fileName, uint32_t* lengthMs, std::string* error);

// A stretch of a stream decoded as playback decodes it, from any position,
// holding only what one read asks for: long tracks cost no more memory.
struct MusicReader;
// Opens the stream at sample frame fromMs * rate / 1000 (rounded down); *rate gets the rate in Hz. Null with
// *error naming the file and the reason.
MusicReader* openMusicReader(const char* fileName, uint32_t fromMs, long* rate, std::string* error);
// Reads the next `frames` interleaved 16-bit stereo sample frames; silence once the stream has ended.
void readMusicFrames(MusicReader* reader, int16_t* out, uint64_t frames);
// Releases the reader (null is fine).
void closeMusicReader(MusicReader* reader);

// A line naming where the stream has damaged bytes that decoding skips, or "" when it has none.
std::string describeMusicDamage(const char* fileName);
// Opens the stream, reads its exact length (going on past damaged bytes,
// with a notice naming where) and decodes its head, without touching the
// audio device. *error names the file or library and the reason.
bool openMusic(MusicPlayer& player, const char* fileName, std::string* error);
// Opens silence lengthMs long in place of a music file: played, paused,
// sought and timed as a track is; false with *error for audio libraries too old.
bool openSilentMusic(MusicPlayer& player, uint32_t lengthMs, std::string* error);
// Starts the decoder thread and playback of the opened stream from its first
// sample, once. Falls back to a silent real-time clock (SDL's dummy driver)
// when no audio device opens, and goes on on a silent real-time clock from
// where it was when the device is lost mid-stream.
bool playMusic(MusicPlayer& player, std::string* error);
// Reads the position (milliseconds heard so far) into player.positionMs and
// returns it, printing nothing: 0 until the first sample is heard, smooth, never backwards, and
// at least lengthMs once the stream has played out.
uint32_t readMusicPosition(MusicPlayer& player);
// Silences the music at once; the position holds where it was until playMusicFrom.
void pauseMusic(MusicPlayer& player);
// Plays on from positionMs, to the sample: the position reads positionMs
// until that sample is heard, then runs on from it.
void playMusicFrom(MusicPlayer& player, uint32_t positionMs);
// A line to tell the user, once each: the audio device was lost (the clock
// goes on silently, in time), or the music file changed under playback (cut
// short or replaced: the position runs on to the length the file had, in
// silence where its sound is gone); "" when there is nothing new.
std::string takeMusicNotice(MusicPlayer& player);
// Stops playback and the decoder, releases the stream and the device, shuts SDL's audio down.
void stopMusic(MusicPlayer& player);
