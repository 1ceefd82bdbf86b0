#include "web/webgl.h"

#include <GLES2/gl2.h>
#include <emscripten/html5_webgl.h>

// The renderer feeds the rectangle's corners to attribute 0, as the
// fixed-function vertex position does on the desktop.
static constexpr GLuint CORNERS_ATTRIBUTE = 0;
static constexpr int CORNERS = 4;

void* webGlLookup(const char* name)
{
    return emscripten_webgl1_get_proc_address(name);
}

// The desktop's rectangle: (x1,y1) (x2,y1) (x2,y2) (x1,y2) as one fan, from
// a buffer made once per context (WebGL draws only from buffers).
extern "C" void glRects(GLshort x1, GLshort y1, GLshort x2, GLshort y2)
{
    static GLuint buffer;
    const GLfloat corners[CORNERS * 2] = {GLfloat(x1), GLfloat(y1), GLfloat(x2), GLfloat(y1),
                                          GLfloat(x2), GLfloat(y2), GLfloat(x1), GLfloat(y2)};
    if (!buffer) glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof corners, corners, GL_STREAM_DRAW);
    glEnableVertexAttribArray(CORNERS_ATTRIBUTE);
    glVertexAttribPointer(CORNERS_ATTRIBUTE, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glDrawArrays(GL_TRIANGLE_FAN, 0, CORNERS);
}

// WebGL clears depth from a float, clamped to [0, 1] as the desktop's double is.
extern "C" void glClearDepth(double depth)
{
    glClearDepthf(GLfloat(depth));
}
