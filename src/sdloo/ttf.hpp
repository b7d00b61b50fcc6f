#pragma once
// SDL_ttf: TrueType fonts and cached text rendering.
//
// TTF_FontClass opens one font file at one point size and renders UTF-8 text
// to new surfaces (solid, shaded or blended). renderCached keeps blended
// renderings in a per-font cache of 524288 pixels keyed by text and look
// (tcsrtb); the cache owns what it hands out.
//
// Lifetime of cached renderings: a surface from renderCached stays valid until
// the end of the current repaint. The toolkit holds a RenderScope for each
// repaint; while any RenderScope is alive, renderings evicted from a cache are
// not freed but parked, and the last RenderScope to end frees them. Without a
// RenderScope an evicted rendering is freed at once, so a caller outside a
// repaint must use the surface before its next renderCached call.
//
// Texts: render and renderCached repair invalid UTF-8 (see repairUtf8) and cut
// a text whose rendering would be wider than maxSurfaceWidth pixels.
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "sdloo/video.hpp"
#include "tools/buffer.hpp"

namespace sdloo {

// Module start-up: TTF_Init unless TTF_WasInit. Shutdown: TTF_Quit if initialised.
void startTTF();
void stopTTF();

// Style flags of a rendering.
struct fontsettings {
    bool bold = false;
    bool italic = false;
    bool underline = false;

    // bold * 1 + italic * 2 + underline * 4 (the SDL_ttf style).
    int style() const { return (bold ? 1 : 0) + (italic ? 2 : 0) + (underline ? 4 : 0); }
    friend bool operator==(const fontsettings&, const fontsettings&) = default;
};

// Render modes of TTF_FontClass::render.
enum : int { renderSolid = 0, renderShaded = 1, renderBlended = 2 };

// The render cache's key. Equal when texts, red/green/blue and style flags are
// equal; the colour's fourth byte and the background take no part.
struct tcsrtb {
    std::string text;
    SDL_Color colour{0, 0, 0, 0};
    fontsettings settings;
    const SDL_Color* background = nullptr;

    bool operator==(const tcsrtb& other) const;
};

// 8-bit hash: exclusive-or of the text's bytes, red, green, blue and the
// style. Only what equality compares goes in, so equal keys hash alike.
struct tcsrtbHash {
    std::size_t operator()(const tcsrtb& key) const;
};

// Defers freeing evicted cached renderings while alive (see the top of this
// file). Nestable; may be held on any thread, normally the interface thread
// around one repaint.
class RenderScope {
public:
    RenderScope();
    ~RenderScope();
    RenderScope(const RenderScope&) = delete;
    RenderScope& operator=(const RenderScope&) = delete;

    // Whether a scope is alive anywhere.
    static bool active();
    // Renderings evicted and waiting for the last scope to end.
    static std::size_t parked();
};

class TTF_FontClass {
public:
    // TTF_OpenFont; throws std::runtime_error
    // "TTF_FontClass.this: Couldn't open font: " + SDL's error.
    TTF_FontClass(const std::string& file, int pointSize);
    ~TTF_FontClass();
    TTF_FontClass(const TTF_FontClass&) = delete;
    TTF_FontClass& operator=(const TTF_FontClass&) = delete;

    int height();
    int ascent();
    int descent();
    int lineSkip();

    // The cached blended rendering, or null when SDL_ttf renders nothing (the
    // empty text, for instance). Owned by the cache: do not free, do not keep
    // past the current repaint.
    SDL_Surface* renderCached(const std::string& text, SDL_Color colour, fontsettings settings = {},
                              const SDL_Color* background = nullptr);
    // A new rendering owned by the caller, or null. mode: renderSolid,
    // renderShaded (needs background) or renderBlended; others throw
    // tools::Failure. The style stays set on the font afterwards.
    Surface render(const std::string& text, SDL_Color colour, fontsettings settings, int mode,
                   const SDL_Color* background = nullptr);

    // The cache's content (tests, benchmarks): entries, their pixels, how many
    // renderings the cache has made and how many it has let go of (freed at
    // once or parked for the end of the repaint) so far.
    std::size_t cachedCount();
    std::uint64_t cachedPixels();
    std::uint64_t cacheMade() const { return made_.load(); }
    std::uint64_t cacheReleased() const { return released_.load(); }
    // Whether the key is stored in the cache.
    bool isCached(const std::string& text, SDL_Color colour, fontsettings settings = {});

    TTF_Font* handle() const { return font_.get(); }

    // Capacity of the render cache in pixels.
    static constexpr std::uint64_t cacheCapacity = 524288;

private:
    struct FontClose {
        void operator()(TTF_Font* font) const {
            if (font) TTF_CloseFont(font);
        }
    };
    using Cache = tools::Buffer<SDL_Surface*, tcsrtb, tcsrtbHash>;

    std::string fitWidth(const std::string& text);

    std::unique_ptr<TTF_Font, FontClose> font_;
    std::mutex fontLock_;  // SDL_ttf state (style, glyph cache) is not thread-safe
    std::atomic<std::uint64_t> made_{0};
    std::atomic<std::uint64_t> released_{0};
    std::unique_ptr<Cache> cache_;
};

// Valid UTF-8 from any bytes: valid sequences stay, every other byte is taken
// as a Latin-1 character (web titles in ISO-8859-1 read naturally). Use it for
// the window caption too.
std::string repairUtf8(std::string_view bytes);

}  // namespace sdloo
