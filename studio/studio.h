// Inside vantrop-studio: what its parts share. Only studio/ includes this.
#pragma once
#include "cli/command_line.h"
#include "music/music.h"
#include "process/child.h"
#include "render/from_readable.h"
#include "render/gl.h"
#include "shaders/pack.h"
#include "studio/strip.h"
#include "studio/transport.h"
#include "timeline/tracks.h"
#include "view/view.h"

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct StudioOptions {
    int width = DEFAULT_PICTURE_WIDTH, height = DEFAULT_PICTURE_HEIGHT; // the window at start
    std::string music, shaders; // "" for the default track and the default folder
    double silentSeconds = 0;   // with no music: silence this long (0: the track, or silence of the show's length)
    std::string schedule;       // "" for the built-in one (until a dragged section makes one)
    std::string tracks;         // "" for the shader's defaults (until a key made with the mouse makes one)
    uint32_t from = 0, loopIn = 0, loopOut = 0;
    bool loop = false, paused = false;
    bool messageBox = false; // a failure to start is told in a message box too
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

// The waveform is measured in buckets of this many milliseconds.
inline constexpr uint32_t WAVEFORM_BUCKET_MS = 10;

// The panel along the bottom with the overlay, in drawable pixels, scaled
// with the window: the strip, one lane per track under it, and the lane
// chooser at the bottom. `unit` is the text's scale (font pixels to screen pixels).
struct PanelLayout {
    bool shown = false;
    int unit = 1;
    int width = 0, windowHeight = 0;
    int stripHeight = 0, laneHeight = 0, chooserHeight = 0;
    int lanes = 0;       // lanes shown (as many as fit)
    int stripBottom = 0; // the strip's lowest row, from the window's bottom
};

// What the mouse is doing under the strip: a key held, or a section's start.
enum class EditDrag { None, Key, Handle };

// What undo and redo go back and forth between.
struct EditState {
    Tracks tracks;
    ScheduleValues schedule;
};

// The tracks in use and what the mouse edits of them and of the schedule.
struct StudioEdits {
    Tracks tracks;                  // every track the shader declares, with the keys in use
    std::vector<std::string> lanes; // the tracks shown as lanes, top first
    FileStamp trackStamp;           // the track file as last read or written
    bool tracksFailed = false;      // the track file's last edit is broken: the last good keys play
    EditDrag drag = EditDrag::None;
    int track = -1, key = -1;                         // the selected key: its track's index and its own, or -1
    int handle = -1;                                  // the section whose start is dragged
    int pressY = 0;                                   // where the drag began, drawable pixels
    float pressValue = 0.0f, low = 0.0f, high = 1.0f; // the key's value then, and its lane's range
    EditState before;                                 // as it was when the drag began
    std::vector<EditState> undo, redo;
    int64_t changedAtMs = 0; // a change waiting to be drawn: when the mouse let go
    std::string said;        // what it was, to tell once drawn
};

// The music's waveform: for each bucket the lowest and highest sample of the
// two channels mixed, filled by a thread of its own; read once `ready`.
struct Waveform {
    std::vector<int16_t> low, high;
    std::atomic<bool> ready{false}, cancel{false};
    std::thread worker;
};

// What a press on the strip started: scrubbing (a left drag) or marking a loop (a right or Ctrl drag).
enum class StripDrag { None, Scrub, Loop };

// A video export running as a child process, and what it has said.
struct StudioExport {
    Child child;               // vantrop-render, its standard error on the pipe
    std::string file, pending; // the video's name; a line not yet whole
    std::string lastLine;      // its last word (the "wrote ..." line at the end)
    int percent = 0;           // its share done
};

// The photosensitivity check (F) running as a child process, and the
// stretches it found failing, marked on the strip.
struct StudioFlashCheck {
    Child child;                   // vantrop-render flashes, its standard error on the pipe
    std::string marks, pending;    // the file it writes the failing stretches to; a line not yet whole
    std::string lastLine;          // its last word (the summary)
    int percent = 0;               // its share done
    uint32_t fromMs = 0, toMs = 0; // the stretch checked
    std::vector<std::pair<uint32_t, uint32_t>> failing; // the failing stretches found, milliseconds
};

// The OpenGL functions past 1.1 that the studio calls itself, looked up in
// its context (Windows' opengl32 exports only OpenGL 1.1): X(type, name).
#define VANTROP_STUDIO_GL_FUNCTIONS(X)                       \
    X(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffers)           \
    X(PFNGLBINDFRAMEBUFFERPROC, glBindFramebuffer)           \
    X(PFNGLFRAMEBUFFERTEXTURE2DPROC, glFramebufferTexture2D) \
    X(PFNGLBLITFRAMEBUFFERPROC, glBlitFramebuffer)           \
    X(PFNGLUSEPROGRAMPROC, glUseProgram)                     \
    X(PFNGLWINDOWPOS2IPROC, glWindowPos2i)
struct StudioGl {
#define VANTROP_STUDIO_GL_FIELD(type, name) type name;
    VANTROP_STUDIO_GL_FUNCTIONS(VANTROP_STUDIO_GL_FIELD)
#undef VANTROP_STUDIO_GL_FIELD
};

// What the studio draws with: the window, the offscreen picture, the shader's state.
struct Studio {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    Renderer* renderer = nullptr;
    ReadablePrograms* readable = nullptr; // what the renderer's programs were packed from
    ScheduleValues schedule;              // the one in use: the built-in one, or the file's last good one
    StudioGl gl{};
    GLuint framebuffer = 0, picture = 0;
    int drawWidth = 0, drawHeight = 0; // the picture's size: the window's 16:9 box divided by the scale
    int scale = 1;
    ShaderFiles files;
    std::vector<FileStamp> shaderStamps;
    ShaderSources good;       // the sources of the programs drawing now, repacked when the picture's size changes
    ShaderSources lastGood;   // the good sources before the edit whose other programs are still to build
    bool restToBuild = false; // an edit drew its frame's program only: the others are still to build
    bool haveProgram = false;
    bool shaderFailed = false;   // the last edit did not build: the last good one draws
    bool scheduleFailed = false; // the schedule file's last edit is broken: the last good schedule times the show
    FileStamp scheduleStamp;
    const char* reloaded = "shader"; // what the rebuild waiting to be shown was for
    std::string banner;
    int64_t bannerUntilMs = 0;
    int64_t reloadSavedAtNs = 0; // when the edit that was just rebuilt was saved; 0 when none waits to be shown
    bool overlay = true;
    bool parameters = false; // the overlay lists the eight frame parameters
    Waveform waveform;
    StripView strip;
    StripDrag drag = StripDrag::None;
    uint32_t dragFromMs = 0, dragToMs = 0; // the loop being marked
    bool resumeAfterScrub = false;         // the music played when the scrub began
    StudioExport exporting;
    StudioFlashCheck flashCheck;
    AutoPreview preview;                      // the auto preview's state
    bool shiftHeld = false, ctrlHeld = false; // as the key events so far left them
    StudioEdits edits;
};

// window.cpp: the window, and the picture drawn and shown in it.
// Opens the window with its OpenGL context, the functions the studio calls and
// an empty renderer; *error says what failed and what to do.
bool openWindow(Studio& s, const StudioOptions& o, std::string* error);
// Lets go of the window and what draws in it (what of it was opened).
void closeWindow(Studio& s);
// Draws the frame at positionMs into the picture band by band (the scissor
// keeps each draw to its band, so every pixel is what one draw gives),
// keeping msPerPixel as measured; false when the window was asked to close
// before the last band.
bool drawPicture(Studio& s, uint32_t positionMs, double& msPerPixel);
// Scales the picture into the window's 16:9 box on black, and waits until it is drawn.
void showPicture(Studio& s);
// Whether the window shows nothing now: hidden, minimised or too small for a picture.
bool windowShowsNothing(const Studio& s);

// options.cpp: the command line.
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
// What a look at a file sees now; a missing file's stamp has size -1.
FileStamp fileStamp(const std::string& path);
// What a look at each shader file sees now.
std::vector<FileStamp> fileStamps(const ShaderFiles& files);
// Packs these sources for the picture's size and builds the programs (with
// framePositionMs, only that frame's now); on a failure the last good
// programs stay and the message says where, in the readable files.
bool buildShader(Studio& s, const ShaderSources& sources, const int64_t* framePositionMs = nullptr);
// Reads the shader folder once and builds what it holds; with
// framePositionMs only that frame's program at once, the rest by finishShader.
bool reloadShader(Studio& s, const int64_t* framePositionMs = nullptr);
// Builds what reloadShader left for later (once the new picture is up); when
// the driver rejects a part of the edit that frame does not draw, says where
// and goes back to the last good shader, whole (true: the picture must be drawn again).
bool finishShader(Studio& s);
// The folder the studio edits for `folder`: the folder itself, or for the
// installed shaders, which their user cannot write, a copy of them in
// $XDG_DATA_HOME/vantrop/shaders (made on first start, never over one there);
// *said tells which when it is the copy.
std::string editableShaderFolder(const std::string& folder, std::string* said);
// Reads the schedule file and, when it is sound, times the show by it and
// packs the last good shader with its values; a broken file keeps the last
// good schedule and says where it is wrong.
bool reloadSchedule(Studio& s, const std::string& path, uint32_t positionMs);

// waveform.cpp: the waveform, measured off the audio and drawing threads.
// Starts measuring the music's waveform (lengthMs long) on a thread of its own.
void startWaveform(Waveform& w, const std::string& music, uint32_t lengthMs);
// Stops the measuring, if it still runs, and waits for its thread.
void stopWaveform(Waveform& w);

// timeline_strip.cpp: the strip along the bottom, and the mouse on it.
// The bottom panel's rows for the window as it is now (not shown without
// the overlay or in a window too small for it).
PanelLayout panelLayout(const Studio& s);
// Draws the strip over the bottom of the window: waveform, sections, bars and beats, loop, playhead.
void drawStrip(Studio& s, const Transport& t);
// Takes a mouse event on the strip (press, drag, release, wheel); true when
// it changed what is shown, with what the music must do in `command`. A
// section's start dragged is an edit of the schedule (o.schedule).
bool stripMouse(Studio& s, StudioOptions& o, Transport& t, const SDL_Event& event, MusicCommand& command);
// The drawable pixels per window point (above 1 on a high-density screen).
double pixelsPerPoint(const Studio& s);
// The millisecond under drawable column x, on the nearest beat with `snap`.
uint32_t positionUnderColumn(const Studio& s, const Transport& t, double x, bool snap);
// An RGB picture that a part of the panel is drawn in, top row first.
struct Canvas {
    std::vector<uint8_t> rgb;
    int width, height;
};
// Fills [x0, x1) x [y0, y1) with an RGB colour, clipped to the canvas.
void fillRect(Canvas& c, int x0, int y0, int x1, int y1, const uint8_t colour[3]);
// Draws the canvas in the window with its lowest row `bottom` pixels above the window's bottom.
void drawCanvas(Studio& s, Canvas& c, int bottom);

// lanes.cpp: the tracks' lanes under the strip, and the mouse on them.
// Draws each lane's curve, keys and value at the playhead, and the chooser.
void drawLanes(Studio& s, const Transport& t);
// Takes a mouse event on the lanes or the chooser; true when it changed what is shown.
bool lanesMouse(Studio& s, StudioOptions& o, const SDL_Event& event);

// edits.cpp: the tracks and schedule edited, saved, undone.
// The shader's tracks (from the sources in use) keyed by the track file
// `path` ("" for none): false with *error naming the file and line.
bool loadTracks(Studio& s, const std::string& path, std::string* error);
// After a shader edit: the tracks its sources declare now, each keeping the keys it had.
void refreshTracks(Studio& s);
// Looks at the track file ("" for none) and reads it again when it changed
// outside the studio (a broken file keeps the last good keys and says
// where it is wrong); true when it changed.
bool watchTracks(Studio& s, const std::string& path);
// Before a change by the mouse or a key: what undo goes back to.
void beginEdit(Studio& s);
// After it: the tracks go to the renderer, undo gets the state before,
// changed files are saved (the track file and o.schedule, made when none
// was given), and once drawn the change is told as `what`.
void finishEdit(Studio& s, StudioOptions& o, const std::string& what);
// Ctrl+Z, I, Delete, T: undo and redo, the selected key's interpolation or
// removal, the next track's lane; true when the key was one of these.
bool editKeys(Studio& s, StudioOptions& o, SDL_Keycode key, bool shift, bool ctrl);
// Tells how long the change took to reach the screen, once drawn.
void reportEdit(Studio& s);

// export.cpp: E, the loop (or the whole show) as a video made by vantrop-render.
// Starts exporting the loop, or the whole track, at the picture's size with
// the options' music ("" for none), shader folder, schedule and track files ("" for the built-in ones) to a
// new vantrop-studio-FROM-TO.mp4; says why not when it cannot.
void startExport(Studio& s, const Transport& t, const StudioOptions& o);
// Publishes the edit as it stands (the shader folder, the schedule, track
// and music files) as a web site in a new vantrop-site-N folder here, with
// vantrop-render site; says where, or why not (an edit that does not build is not published).
void publishSite(Studio& s, const StudioOptions& o);
// Whether an export runs.
bool exportRunning(const Studio& s);
// Reads the export's progress and, once it has ended, says how; true when something changed.
bool pollExport(Studio& s);
// Stops a running export as Ctrl+C would (it keeps the frames made) and waits for it.
void stopExport(Studio& s);

// vantrop-render beside the studio's own program (both in the build's tools/, or both installed in bin/).
std::string renderProgram();
// Takes the whole lines a child vantrop-render command has written: its
// share done ("NN%" lines) and its last other line, each without `prefix`; true when there were any.
bool takeProgressLines(std::string& pending, const std::string& prefix, int& percent, std::string& lastLine);

// flash_check.cpp: F, the loop (or the whole show) measured against the
// photosensitivity thresholds by vantrop-render flashes in the background.
// Starts the check with the studio's shaders, schedule and tracks; says why not when it cannot.
void startFlashCheck(Studio& s, const Transport& t, const StudioOptions& o);
// Whether a check runs.
bool flashCheckRunning(const Studio& s);
// Reads the check's progress and, once it has ended, takes its failing stretches and says how it went; true when
// something changed.
bool pollFlashCheck(Studio& s);
// Stops a running check and waits for it.
void stopFlashCheck(Studio& s);

// picture.cpp: the offscreen picture and what is saved of it.
// The window's 16:9 box (letterboxed), in window pixels.
ViewBox windowPictureBox(SDL_Window* window);
// Sizes the offscreen picture for the window and the scale; rebuilds the shader when the size changed.
void fitPicture(Studio& s);
// Saves the picture as drawn to a new PNG named by its position.
void saveFrame(Studio& s, uint32_t positionMs);
