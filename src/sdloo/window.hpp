#pragma once
// sdloo.window: the process's one window under SDL 1.2.
//
// startVideo/stopVideo start and stop SDL's video subsystem; setVideoMode opens
// the window or changes its size and kind; setCaption names it. SDL 1.2 keeps a
// single video surface per process and owns it: it is never freed by callers,
// and a new mode may replace it. The toolkit's bridge keeps the surface it
// draws on (gui::SdlBridge::screen); applications change the window through
// the bridge or these functions, never through SDL.
//
// Threads: start-up and shutdown on the main thread before and after the other
// threads; everything else on the interface thread only.
#include <SDL/SDL.h>

#include <string>

namespace sdloo {

// Process start-up: SDL_Init(video), records the desktop size, SDL_Init again
// (throws std::runtime_error "Unable to init SDL: " + SDL's error). stopVideo
// calls SDL_Quit. VideoSystem does both for a scope (tests, main).
void startVideo();
void stopVideo();
struct VideoSystem {
    VideoSystem() { startVideo(); }
    ~VideoSystem() { stopVideo(); }
    VideoSystem(const VideoSystem&) = delete;
    VideoSystem& operator=(const VideoSystem&) = delete;
};

// The kinds of window, each with its SDL flags.
enum class VideoMode {
    window,     // SDL_ANYFORMAT | SDL_RESIZABLE: the application's window
    resizable,  // SDL_RESIZABLE: the window at the size the user dragged it to
    frameless,  // SDL_NOFRAME: full screen as a window without a frame
};

// SDL_SetVideoMode at 32 bits per pixel. The new window surface, or null when
// SDL refused (videoError tells why; the old surface may be gone then, see
// videoSurface).
SDL_Surface* setVideoMode(int width, int height, VideoMode mode);
// Tests: the next count calls of setVideoMode fail (null, videoError set)
// without reaching SDL, as a refused mode would. Interface thread only.
void refuseVideoModesForTests(int count);
// The video surface SDL holds now, or null.
SDL_Surface* videoSurface();
// SDL's text for the last failure.
std::string videoError();

// Sets the window caption (SDL_WM_SetCaption, UTF-8). Bytes that are not valid
// UTF-8 (page titles are web input) are repaired first, as for rendered text.
void setCaption(const std::string& title);

// The desktop size that startVideo recorded (full-screen mode uses it).
// Written once at start-up, before other threads exist.
extern int desktopWidth;
extern int desktopHeight;

}  // namespace sdloo
