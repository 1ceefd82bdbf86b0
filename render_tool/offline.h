// Offline rendering for the companion tools: the show's own renderer in a
// headless context, at any 16:9 size.
#pragma once
#include "cli/options.h"
#include "render/from_readable.h"
#include "render/headless.h"
#include "render/renderer.h"

#include <cstdint>
#include <string>
#include <vector>
// What the options every drawing command shares named: "" for none.
struct DrawingSources {
    std::string shaders, schedule, tracks;
};

// --shaders DIR, into `folder`.
Option shadersOption(std::string* folder);
// --schedule FILE, into `file`.
Option scheduleOption(std::string* file);
// --tracks FILE, into `file`.
Option tracksOption(std::string* file);
// --force, into `force`: an existing output is replaced only when it is given.
Option forceOption(bool* force);

// What a command draws with: set up by its options, then opened, and closed
// by the command (closeOffline) on every way out once opened.
struct Offline {
    ScheduleValues schedule; // the built-in one unless useScheduleFile
    bool scheduleGiven = false;
    Tracks tracks; // keyed by a track file where tracksGiven, else the shader's defaults
    bool tracksGiven = false;
    std::string shaderFolder; // "" for the build's own shader
    ShaderSources folderSources;
    HeadlessContext* context = nullptr;
    Renderer* renderer = nullptr;
    ReadablePrograms* readable = nullptr;
};

// Reads the schedule file, the track file and the shader folder the options
// named into `offline` (with a schedule or track file and no folder, the
// installed readable shaders); false with *error naming the file, and the
// line, at fault.
bool useDrawingSources(Offline& offline, const DrawingSources& sources, std::string* error);
// The tracks the readable shaders declare (those of --shaders, else the
// installed ones), without keys; false with *error naming the file, and the line, at fault.
bool declaredShaderTracks(Offline& offline, Tracks& declared, std::string* error);
// Reads a drawing command's line, then the schedule file and shader folder
// its options named into `offline`: -1 to go on, else the exit status (a
// mistake is told as the command's usage error).
int parseDrawingCommand(const CommandLine& line, int argc, char** argv, const DrawingSources& sources,
                        Offline& offline);
// Opens a headless context and sets up the show's renderer for width x height, every program built.
bool openOfflineRenderer(Offline& offline, int width, int height, std::string* error);
// The same for one picture: only the program of the frame at positionMs is built.
bool openOfflineRendererForFrame(Offline& offline, int width, int height, uint32_t positionMs, std::string* error);
// Draws with the show's own shader again, as the show does.
bool useShowShader(Offline& offline, int width, int height, std::string* error);
// Draws every frame with this fragment shader alone (written for the show's resolution).
bool useSingleShader(Offline& offline, const char* fragmentSource, int width, int height, std::string* error);
// The frame the show draws at this music position, as RGB bytes, top row first.
std::vector<uint8_t> renderImage(Offline& offline, uint32_t positionMs, int width, int height);
// Gives back the renderer and the context.
void closeOffline(Offline& offline);
