// The studio's keys: what each one asks for. Pure: the studio's window
// carries the commands out, the transport the moves.
#pragma once
#include "studio/transport.h"

#include <SDL_keycode.h>

enum class StudioCommand {
    None,
    Quit,             // Esc
    ToggleOverlay,    // Tab
    ToggleParameters, // M
    SaveFrame,        // F12
    Export,           // E
    Publish,          // W
    CheckFlashes,     // F
    NextPreview,      // P
    FullScreen,       // F11
    Section,          // 1 to 8
    Move,             // a transport key
};

struct KeyCommand {
    StudioCommand command = StudioCommand::None;
    int section = 0;                             // Section: its index, 0 for the first
    TransportKey move = TransportKey::PlayPause; // Move: the transport's key
};

// What the key asks for, with Shift held or not.
KeyCommand commandForKey(SDL_Keycode key, bool shift);
