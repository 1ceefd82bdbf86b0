#include "studio/keys.h"

#include "timeline/timeline.h"

static KeyCommand move(TransportKey key)
{
    KeyCommand c;
    c.command = StudioCommand::Move;
    c.move = key;
    return c;
}

static KeyCommand command(StudioCommand what)
{
    KeyCommand c;
    c.command = what;
    return c;
}

KeyCommand commandForKey(SDL_Keycode key, bool shift)
{
    if (key >= SDLK_1 && key < SDLK_1 + SHOW_SECTION_COUNT) {
        KeyCommand c = command(StudioCommand::Section);
        c.section = int(key - SDLK_1);
        return c;
    }
    switch (key) {
    case SDLK_ESCAPE: return command(StudioCommand::Quit);
    case SDLK_TAB: return command(StudioCommand::ToggleOverlay);
    case SDLK_m: return command(StudioCommand::ToggleParameters);
    case SDLK_F12: return command(StudioCommand::SaveFrame);
    case SDLK_e: return command(StudioCommand::Export);
    case SDLK_w: return command(StudioCommand::Publish);
    case SDLK_f: return command(StudioCommand::CheckFlashes);
    case SDLK_p: return command(StudioCommand::NextPreview);
    case SDLK_F11: return command(StudioCommand::FullScreen);
    case SDLK_SPACE: return move(TransportKey::PlayPause);
    case SDLK_LEFT: return move(shift ? TransportKey::BarBack : TransportKey::BeatBack);
    case SDLK_RIGHT: return move(shift ? TransportKey::BarAhead : TransportKey::BeatAhead);
    case SDLK_PAGEUP: return move(TransportKey::PhraseBack);
    case SDLK_PAGEDOWN: return move(TransportKey::PhraseAhead);
    case SDLK_HOME: return move(TransportKey::Home);
    case SDLK_j: return move(TransportKey::ShuttleBack);
    case SDLK_k: return move(TransportKey::ShuttleStop);
    case SDLK_l: return move(TransportKey::ShuttleAhead);
    case SDLK_LEFTBRACKET: return move(TransportKey::LoopIn);
    case SDLK_RIGHTBRACKET: return move(TransportKey::LoopOut);
    case SDLK_BACKSPACE: return move(TransportKey::ClearLoop);
    case SDLK_COMMA: return move(TransportKey::FrameBack);
    case SDLK_PERIOD: return move(TransportKey::FrameAhead);
    default: return KeyCommand{};
    }
}
