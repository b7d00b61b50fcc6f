#include "sdloo/font.hpp"

#include <stdexcept>
#include <vector>

#include "tools/failure.hpp"

namespace sdloo {

void startTTF() {
    if (TTF_WasInit() == 0) TTF_Init();
}

void stopTTF() {
    if (TTF_WasInit() != 0) TTF_Quit();
}

// ---- keys ----

bool TextRenderKey::operator==(const TextRenderKey& other) const {
    return text == other.text && colour.r == other.colour.r && colour.g == other.colour.g &&
           colour.b == other.colour.b && settings == other.settings;
}

std::size_t TextRenderKeyHash::operator()(const TextRenderKey& key) const {
    std::uint8_t h = 0;
    for (char c : key.text) h ^= static_cast<std::uint8_t>(c);
    h ^= key.colour.r;
    h ^= key.colour.g;
    h ^= key.colour.b;
    h ^= static_cast<std::uint8_t>(key.settings.style());
    return h;
}

// ---- repaint scopes ----

namespace {

struct Parking {
    std::mutex lock;
    int depth = 0;
    std::vector<SDL_Surface*> parked;
};

Parking& parking() {
    static Parking* p = new Parking;  // outlives every font, even at exit
    return *p;
}

// Frees now, or parks until the last repaint scope ends.
void releaseRendering(SDL_Surface* surface) {
    if (!surface) return;
    Parking& p = parking();
    {
        std::lock_guard<std::mutex> hold(p.lock);
        if (p.depth > 0) {
            p.parked.push_back(surface);
            return;
        }
    }
    SDL_FreeSurface(surface);
}

}  // namespace

RenderScope::RenderScope() {
    Parking& p = parking();
    std::lock_guard<std::mutex> hold(p.lock);
    ++p.depth;
}

RenderScope::~RenderScope() {
    Parking& p = parking();
    std::vector<SDL_Surface*> done;
    {
        std::lock_guard<std::mutex> hold(p.lock);
        if (--p.depth == 0) done.swap(p.parked);
    }
    for (SDL_Surface* s : done) SDL_FreeSurface(s);
}

bool RenderScope::active() {
    Parking& p = parking();
    std::lock_guard<std::mutex> hold(p.lock);
    return p.depth > 0;
}

std::size_t RenderScope::parked() {
    Parking& p = parking();
    std::lock_guard<std::mutex> hold(p.lock);
    return p.parked.size();
}

// ---- fonts ----

Font::Font(const std::string& file, int pointSize) : font_(TTF_OpenFont(file.c_str(), pointSize)) {
    if (!font_)
        throw std::runtime_error(std::string("TTF_FontClass.this: Couldn't open font: ") +
                                 TTF_GetError());
    cache_ = std::make_unique<Cache>(
        [this](const TextRenderKey& key) -> SDL_Surface* {
            Surface s = render(key.text, key.colour, key.settings, renderBlended, key.background);
            ++made_;
            return s.release();
        },
        [](SDL_Surface* const& s) -> std::uint64_t {
            return s ? std::uint64_t(s->w) * std::uint64_t(s->h) : 0;
        },
        cacheCapacity,
        [this](const TextRenderKey&, SDL_Surface*& s) {
            if (s) ++released_;
            releaseRendering(s);
            s = nullptr;
        });
}

Font::~Font() {
    cache_.reset();  // frees (or parks) every cached rendering before the font closes
}

int Font::height() {
    std::lock_guard<std::mutex> hold(fontLock_);
    return TTF_FontHeight(font_.get());
}

int Font::ascent() {
    std::lock_guard<std::mutex> hold(fontLock_);
    return TTF_FontAscent(font_.get());
}

int Font::descent() {
    std::lock_guard<std::mutex> hold(fontLock_);
    return TTF_FontDescent(font_.get());
}

int Font::lineSkip() {
    std::lock_guard<std::mutex> hold(fontLock_);
    return TTF_FontLineSkip(font_.get());
}

SDL_Surface* Font::renderCached(const std::string& text, SDL_Color colour, FontSettings settings,
                                const SDL_Color* background) {
    return cache_->get(TextRenderKey{text, colour, settings, background});
}

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t validSequence(std::string_view s, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    std::size_t n;
    std::uint32_t cp, min;
    if ((c & 0xE0) == 0xC0)
        n = 2, cp = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0)
        n = 3, cp = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0)
        n = 4, cp = c & 0x07, min = 0x10000;
    else
        return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// Back from end to the start of a UTF-8 character (text already valid).
std::size_t characterStart(const std::string& s, std::size_t end) {
    while (end > 0 && end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return end;
}

}  // namespace

std::string repairUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        if (std::size_t n = validSequence(bytes, i)) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            unsigned char c = static_cast<unsigned char>(bytes[i++]);
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// The longest prefix of text (cut at a character boundary) whose rendering
// stays within maxSurfaceWidth. Called with fontLock_ held and the style set.
std::string Font::fitWidth(const std::string& text) {
    // No glyph advances more than twice the line height per byte of text: short
    // texts need no measuring.
    std::uint64_t bound = std::uint64_t(2 * std::max(1, TTF_FontHeight(font_.get())) + 8);
    if (text.size() * bound <= std::uint64_t(maxSurfaceWidth)) return text;
    auto width = [&](const std::string& t) {
        int w = 0, h = 0;
        if (TTF_SizeUTF8(font_.get(), t.c_str(), &w, &h) != 0) return 0;
        return w;
    };
    if (width(text) <= maxSurfaceWidth) return text;
    std::size_t good = 0, bad = text.size();
    while (bad - good > 1) {
        std::size_t mid = characterStart(text, good + (bad - good) / 2);
        if (mid <= good) mid = good + 1;
        while (mid < bad && (static_cast<unsigned char>(text[mid]) & 0xC0) == 0x80) ++mid;
        if (mid >= bad) break;
        if (width(text.substr(0, mid)) <= maxSurfaceWidth)
            good = mid;
        else
            bad = mid;
    }
    return text.substr(0, good);
}

Surface Font::render(const std::string& text, SDL_Color colour, FontSettings settings, int mode,
                     const SDL_Color* background) {
    std::string fixed = repairUtf8(text);
    std::lock_guard<std::mutex> hold(fontLock_);
    TTF_SetFontStyle(font_.get(), settings.style());
    if (mode != renderSolid && mode != renderShaded && mode != renderBlended)
        throw tools::Failure();
    if (mode == renderShaded) tools::check(background != nullptr, "shaded text needs a background");
    fixed = fitWidth(fixed);
    switch (mode) {
        case renderSolid:
            return Surface(TTF_RenderUTF8_Solid(font_.get(), fixed.c_str(), colour));
        case renderShaded:
            return Surface(TTF_RenderUTF8_Shaded(font_.get(), fixed.c_str(), colour, *background));
        default:
            return Surface(TTF_RenderUTF8_Blended(font_.get(), fixed.c_str(), colour));
    }
}

std::size_t Font::cachedCount() { return cache_->count(); }

std::uint64_t Font::cachedPixels() { return cache_->totalSize(); }

bool Font::isCached(const std::string& text, SDL_Color colour, FontSettings settings) {
    return cache_->has(TextRenderKey{text, colour, settings, nullptr});
}

}  // namespace sdloo
