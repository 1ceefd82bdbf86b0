// The offscreen picture: fitted to the window's 16:9 box at the preview
// scale, and saved as drawn.
#include "files/output_file.h"
#include "image/png_file.h"
#include "studio/studio.h"

#include <algorithm>
#include <cstdio>

ViewBox windowPictureBox(SDL_Window* window)
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    return pictureBoxIn(w, h);
}

void fitPicture(Studio& s)
{
    const ViewBox size = drawnSize(windowPictureBox(s.window).width, s.scale);
    const int width = size.width, height = size.height;
    if (width == s.drawWidth && height == s.drawHeight) return;
    s.drawWidth = width;
    s.drawHeight = height;
    if (!s.framebuffer) {
        s.gl.glGenFramebuffers(1, &s.framebuffer);
        glGenTextures(1, &s.picture);
    }
    glBindTexture(GL_TEXTURE_2D, s.picture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
    s.gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, s.picture, 0);
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // A new size repacks what is drawing now, never an edit that failed.
    if (s.haveProgram)
        buildShader(s, s.good);
    else
        reloadShader(s);
}

// Snapshots at one position get numbered names rather than replace each other.
static constexpr int MAX_SNAPSHOT_NUMBER = 999;

void saveFrame(Studio& s, uint32_t positionMs)
{
    std::vector<uint8_t> rgb(size_t(s.drawWidth) * size_t(s.drawHeight) * 3);
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, s.drawWidth, s.drawHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    flipRows(rgb, s.drawWidth, s.drawHeight);
    const std::string stem = "vantrop-studio-" + std::to_string(positionMs);
    std::string error;
    const std::string temporary = makeTemporaryBeside(stem + ".png", ".png", &error);
    if (temporary.empty() || !writePngRgb(temporary, s.drawWidth, s.drawHeight, rgb, &error)) {
        if (!temporary.empty()) std::remove(temporary.c_str());
        say(s, "the frame was not saved: " + error);
        return;
    }
    for (int number = 1; number <= MAX_SNAPSHOT_NUMBER && error.empty(); ++number) {
        std::string name = stem;
        if (number > 1) name += '-' + std::to_string(number);
        name += ".png";
        if (moveIntoPlaceIfNew(temporary, name, &error)) {
            say(s, "saved the frame to " + name);
            return;
        }
    }
    std::remove(temporary.c_str());
    say(s,
        "the frame was not saved: " +
            (error.empty() ? "there are " + std::to_string(MAX_SNAPSHOT_NUMBER) + " snapshots of " + stem +
                     " already; move some away"
                           : error));
}
