#include "comics/serialize.hpp"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace comics::serialize {
namespace {

constexpr std::uint64_t maxLength = std::numeric_limits<std::uint32_t>::max();
// The longest piece of the remaining bytes quoted in a splinter error.
constexpr std::size_t quotedBytes = 256;

[[noreturn]] void splinter(std::uint64_t n, std::string_view rest) {
    std::string message = "Problem: can't splinter " + std::to_string(n) + " from ";
    if (rest.size() > quotedBytes) {
        message.append(rest.substr(0, quotedBytes));
        message.append("...");
    } else {
        message.append(rest);
    }
    throw std::runtime_error(message);
}

void checkLength(std::uint64_t length) {
    if (length >= maxLength) throw std::runtime_error("Maximal permissible length exceeded");
}

// Counts the bytes an encoding takes.
struct Counter {
    std::uint64_t size = 0;
    void u32(std::uint32_t) { size += 4; }
    void str(std::string_view s) {
        checkLength(s.size());
        size += 4 + s.size();
    }
};

// Writes into a buffer of exactly the counted size.
struct Writer {
    char* at;
    void u32(std::uint32_t v) {
        at[0] = static_cast<char>(v & 0xff);
        at[1] = static_cast<char>((v >> 8) & 0xff);
        at[2] = static_cast<char>((v >> 16) & 0xff);
        at[3] = static_cast<char>((v >> 24) & 0xff);
        at += 4;
    }
    void str(std::string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        if (!s.empty()) std::memcpy(at, s.data(), s.size());
        at += s.size();
    }
};

template <class Sink>
void walk(Sink& sink, const ComicState& state) {
    checkLength(state.pages.size());
    sink.u32(static_cast<std::uint32_t>(state.pages.size()));
    for (const Page& p : state.pages) {
        sink.str(p.image());
        sink.str(p.title());
        sink.str(p.reserved1());
        sink.str(p.reserved2());
    }
    sink.u32(static_cast<std::uint32_t>(state.position));
    sink.str(state.custom);
}

}  // namespace

void Reader::splinter(std::uint64_t n) const { serialize::splinter(n, rest_); }

std::string encode(const ComicState& state) {
    Counter counter;
    walk(counter, state);
    std::string out(counter.size, '\0');
    Writer writer{out.data()};
    walk(writer, state);
    return out;
}

ComicState decode(std::shared_ptr<const std::string> bytes) {
    if (!bytes) throw std::invalid_argument("no bytes to decode");
    Reader in(*bytes);
    ComicState state;
    std::uint32_t count = in.u32();
    // Every page takes at least its four lengths: refuse a count the remaining
    // bytes cannot hold before allocating anything for it.
    std::uint64_t least = std::uint64_t{count} * 16;
    if (least > in.remaining()) {
        std::string_view rest = std::string_view(*bytes).substr(4);
        splinter(least, rest);
    }
    state.pages.reserve(count);
    const std::shared_ptr<const void> owner = bytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string_view image = in.take(in.u32());
        const std::string_view title = in.take(in.u32());
        const std::string_view first = in.take(in.u32());
        const std::string_view second = in.take(in.u32());
        state.pages.emplace_back(owner, image, title, first, second);
    }
    state.position = in.i32();
    in.strInto(state.custom);
    return state;
}

ComicState decode(std::string_view bytes) {
    return decode(std::make_shared<const std::string>(bytes));
}

void putU32(std::string& out, std::uint32_t value) {
    char b[4] = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
                 static_cast<char>((value >> 16) & 0xff), static_cast<char>((value >> 24) & 0xff)};
    out.append(b, 4);
}

void putStr(std::string& out, std::string_view text) {
    checkLength(text.size());
    putU32(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

}  // namespace comics::serialize
