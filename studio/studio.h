// Inside vantrop-studio: what its parts share. Only studio/ includes this.
#pragma once
#include "cli/command_line.h"
#include "music/music.h"
#include "shaders/pack.h"
#include "studio/transport.h"

#include <SDL.h>

#include <GL/gl.h>

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int ASPECT_W = 16, ASPECT_H = 9;
// The preview setting that picks the scale by itself.
inline constexpr int AUTO_PREVIEW = 0;

struct StudioOptions {
    int width = DEFAULT_PICTURE_WIDTH, height = DEFAULT_PICTURE_HEIGHT; // the window at start
    std::string music = MUSIC_FILE_NAME, shaders;                       // shaders: "" for the default folder
    uint32_t from = 0, loopIn = 0, loopOut = 0;
    bool loop = false, paused = false;
    int preview = AUTO_PREVIEW;
};

// What a look at a shader file sees: any change of it, its permissions
// included, differs here (a chmod changes the inode's time, not the file's).
struct FileStamp {
    int64_t modifiedNs = 0, changedNs = 0, size = -1;
    uint64_t inode = 0;
    uint32_t mode = 0;
    bool operator==(const FileStamp&) const = default;
};

// What the studio draws with: the window, the offscreen picture, the shader's state.
struct Studio {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    GLuint framebuffer = 0, picture = 0;
    int drawWidth = 0, drawHeight = 0; // the picture's size: the window's 16:9 box divided by the scale
    int scale = 1;
    ShaderFiles files;
    std::vector<FileStamp> shaderStamps;
    ShaderSources good; // the sources of the programs drawing now, repacked when the picture's size changes
    bool haveProgram = false;
    bool shaderFailed = false; // the last edit did not build: the last good one draws
    std::string banner;
    int64_t bannerUntilMs = 0;
    int64_t reloadSavedAtNs = 0; // when the edit that was just rebuilt was saved; 0 when none waits to be shown
    bool overlay = true;
    bool parameters = false; // the overlay lists the eight frame parameters
};

// options.cpp: the command line.
// The readable shaders used without --shaders: share/vantrop/shaders beside
// the program's folder (installed), else the build's source folder; "" when
// neither has them, with *looked naming both.
std::string defaultShaderFolder(std::string* looked);
// Reads the options into `o`: -1 to go on, otherwise the exit status (help, version, a mistake).
int parseStudioOptions(int argc, char** argv, StudioOptions& o);

// overlay.cpp: the overlay, the banner and the title's text.
// Milliseconds of the steady clock.
int64_t nowMs();
// Prints a message and shows it on the overlay for a while.
void say(Studio& s, const std::string& message);
// Time, beat, bar, section, frame rate, state: for the title and the overlay.
std::vector<std::string> statusLines(const Transport& t, const Studio& s, double fps, double frameMs,
                                     int previewSetting);
// Draws the overlay's lines at the top left of the window, on a dark band.
void drawOverlay(Studio& s, const std::vector<std::string>& lines);

// shader_watch.cpp: the shader folder, looked at and rebuilt.
// What a look at each shader file sees now.
std::vector<FileStamp> fileStamps(const ShaderFiles& files);
// Packs these sources for the picture's size and builds the programs; on a
// failure the last good programs stay and the message says where, in the
// readable files.
bool buildShader(Studio& s, const ShaderSources& sources);
// Reads the shader folder once and builds what it holds.
bool reloadShader(Studio& s);

// picture.cpp: the offscreen picture and what is saved of it.
// The window's 16:9 box (letterboxed), in window pixels: x, y, width, height.
void pictureBox(SDL_Window* window, int box[4]);
// Sizes the offscreen picture for the window and the scale; rebuilds the shader when the size changed.
void fitPicture(Studio& s);
// Saves the picture as drawn to a new PNG named by its position.
void saveFrame(Studio& s, uint32_t positionMs);
