#include "render/entry_points.h"

bool loadGlEntryPoints(GlLookup lookup, GlEntryPoints& table, std::string* error)
{
#define VANTROP_GL_ENTRY_FETCH(type, name)                         \
    table.name = reinterpret_cast<type>(lookup(#name));            \
    if (!table.name) {                                             \
        *error = "the OpenGL driver lacks " #name                  \
                 ": an OpenGL 2.0 driver is needed (install your " \
                 "graphics driver, or Mesa)";                      \
        return false;                                              \
    }
    VANTROP_GL_ENTRY_POINTS(VANTROP_GL_ENTRY_FETCH)
#undef VANTROP_GL_ENTRY_FETCH
    return true;
}
