#include "sdloo/window.hpp"

#include <stdexcept>

#include "sdloo/font.hpp"

namespace sdloo {

int desktopWidth = 0;
int desktopHeight = 0;

void startVideo() {
    if (SDL_Init(SDL_INIT_VIDEO) >= 0) {
        if (const SDL_VideoInfo* info = SDL_GetVideoInfo()) {
            desktopWidth = info->current_w;
            desktopHeight = info->current_h;
        }
    }
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        throw std::runtime_error(std::string("Unable to init SDL: ") + SDL_GetError());
}

void stopVideo() { SDL_Quit(); }

namespace {
int refusals = 0;  // setVideoMode calls still to refuse (tests)
}  // namespace

void refuseVideoModesForTests(int count) { refusals = count; }

SDL_Surface* setVideoMode(int width, int height, VideoMode mode) {
    if (refusals > 0) {
        --refusals;
        SDL_SetError("Video mode %dx%d refused", width, height);
        return nullptr;
    }
    Uint32 flags = 0;
    switch (mode) {
        case VideoMode::window:
            flags = SDL_ANYFORMAT | SDL_RESIZABLE;
            break;
        case VideoMode::resizable:
            flags = SDL_RESIZABLE;
            break;
        case VideoMode::frameless:
            flags = SDL_NOFRAME;
            break;
    }
    return SDL_SetVideoMode(width, height, 32, flags);
}

SDL_Surface* videoSurface() { return SDL_GetVideoSurface(); }

std::string videoError() { return SDL_GetError(); }

void setCaption(const std::string& title) {
    std::string fixed = repairUtf8(title);
    SDL_WM_SetCaption(fixed.c_str(), nullptr);
}

}  // namespace sdloo
